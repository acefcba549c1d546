#pragma once
// The built-in diagnostic tests chosen with --diagnostic-test. They run before
// the center address, the save location, the graphics and the window exist.

#include <optional>
#include <string>

namespace orivanta {

constexpr unsigned long kDiagnosticHoldMilliseconds = 30000;

// "normal" and "hold" write their "Completed" report and return the exit code 0
// the process ends with; "early-error" and "nested-error" raise their failures;
// any other value selects no test and returns nothing, so start-up continues.
std::optional<int> RunDiagnosticTest(const std::wstring& test,
                                     unsigned long holdMilliseconds = kDiagnosticHoldMilliseconds);

}  // namespace orivanta
