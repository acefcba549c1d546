#include <windows.h>

#include "app/Options.h"

// Process entry. The start-up sequence grows here as its parts land.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    try {
        orivanta::ReadDiagnosticOptions();
        orivanta::ApplyServerUrlOption();
    } catch (...) {
        return 2;
    }
    return 0;
}
