#pragma once
// The first steps of the process entry, before any option is read.

namespace orivanta {

// Error mode, run diagnostics (installed in the shared state), DPI awareness,
// COM and Winsock. Raises "COM initialization failed", "Windows network stack
// initialization failed" and whatever the run diagnostics raise.
void PrepareProcess();

}  // namespace orivanta
