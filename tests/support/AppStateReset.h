#pragma once

namespace orivanta {
class RunDiagnostics;
}

namespace orivanta::test {

// Puts the process-wide AppState back to a fresh process's state, so that each
// test that drives the shared record starts from it.
void ResetAppState();

// The run diagnostics a test installed in App().diagnostics.
RunDiagnostics& InstalledDiagnostics();

}  // namespace orivanta::test
