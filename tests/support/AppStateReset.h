#pragma once

namespace orivanta::test {

// Puts every field of the process-wide AppState back to its initial value, so
// that each test starts from a fresh process's state.
void ResetAppState();

}  // namespace orivanta::test
