#pragma once
#include <string>

namespace orivanta {

// A short Chinese sentence for the WinHTTP failures a clinic meets (time-out,
// name resolution, connection, TLS and certificates, proxy auto-configuration,
// redirects) and the Winsock codes of a broken connection; empty for any other code.
std::wstring NetworkErrorMessage(unsigned long code);

// The readable text of a network call's failure followed by " (code)": the
// sentence above, else WinHTTP's own message for its codes, else the system's.
std::wstring NetworkErrorText(unsigned long code);

}  // namespace orivanta
