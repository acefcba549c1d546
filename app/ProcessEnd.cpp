#include "app/ProcessEnd.h"

#include <windows.h>

namespace orivanta {

void EndProcessAtOnce(int exitCode) {
    // ExitProcess would run every DLL's detach code after stopping the other
    // threads wherever they were.
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(exitCode));
    ::ExitProcess(static_cast<UINT>(exitCode));
}

}  // namespace orivanta
