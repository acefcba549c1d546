#pragma once
#include <string>

namespace orivanta {

// The readable text of a Windows error code followed by " (code)": a short Chinese
// sentence for the network failures a clinic meets, else the message of the
// module that owns the code (WinHTTP's own codes) or of the system.
std::wstring SystemErrorText(unsigned long code);
// The message rule on its own: trailing CR and LF removed, the code appended.
std::wstring ComposeSystemErrorText(std::wstring message, unsigned long code);

}  // namespace orivanta
