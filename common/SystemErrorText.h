#pragma once
#include <windows.h>

#include <string>

namespace orivanta {

// The readable text of a Windows error code followed by " (code)": the message of
// messageModule (one already loaded) when given, else the system's.
std::wstring SystemErrorText(unsigned long code, HMODULE messageModule = nullptr);
// The message rule on its own: trailing CR and LF removed, the code appended.
std::wstring ComposeSystemErrorText(std::wstring message, unsigned long code);

}  // namespace orivanta
