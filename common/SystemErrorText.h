#pragma once
#include <string>

namespace orivanta {

// The system's message for a Windows error code followed by " (code)".
std::wstring SystemErrorText(unsigned long code);
// The message rule on its own: trailing CR and LF removed, the code appended.
std::wstring ComposeSystemErrorText(std::wstring message, unsigned long code);

}  // namespace orivanta
