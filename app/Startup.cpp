#include "app/Startup.h"

#include <winsock2.h>
#include <windows.h>
#include <objbase.h>

#include <memory>
#include <stdexcept>

#include "diagnostics/RunDiagnostics.h"
#include "state/AppState.h"

namespace orivanta {

namespace {

// The manifest asks for per-monitor awareness (v2, else v1, else system-wide on
// systems that know neither). Where the call exists it confirms that; it fails
// harmlessly when the manifest already set it, and system awareness must not
// be forced over it: the window would then be stretched on other monitors.
void ConfirmPerMonitorDpiAwareness() {
    using SetAwarenessContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) return;
    const auto set = reinterpret_cast<SetAwarenessContext>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    if (set != nullptr && !set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) {
        set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
    }
}

}  // namespace

void PrepareProcess() {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    App().diagnostics = std::make_unique<RunDiagnostics>();
    ConfirmPerMonitorDpiAwareness();
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
