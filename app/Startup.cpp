#include "app/Startup.h"

#include <winsock2.h>
#include <windows.h>
#include <objbase.h>

#include <memory>
#include <stdexcept>

#include "diagnostics/RunDiagnostics.h"
#include "state/AppState.h"

namespace orivanta {

void PrepareProcess() {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    App().diagnostics = std::make_unique<RunDiagnostics>();
    ::SetProcessDPIAware();
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        throw std::runtime_error("COM initialization failed");
    }
    WSADATA winsock{};
    if (::WSAStartup(MAKEWORD(2, 2), &winsock) != 0) {
        throw std::runtime_error("Windows network stack initialization failed");
    }
    App().windowsNetworkReady = true;
}

}  // namespace orivanta
