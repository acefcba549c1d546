#pragma once
// The last-resort handling of failures that reach the process entry.

#include <exception>
#include <string>

namespace orivanta {

// Writes the "UnhandledException" report (when the diagnostics exist), shows the
// message box unless diagnostic mode is on, and returns exit code 2. Never raises.
int HandleFatalException(const std::exception& failure) noexcept;
// The same for anything thrown that is not a standard exception; no message box.
int HandleUnknownException() noexcept;

}  // namespace orivanta
