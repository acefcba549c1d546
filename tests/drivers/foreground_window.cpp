// Reports which window has the keyboard on the Wine desktop, and brings a
// window there on request. Keys typed on the X display reach the window Wine
// holds in the foreground, whichever X window has the X focus, so the window
// tests ask here before they type.
//
//   foreground_window         prints "foreground=<title>" (UTF-8; nothing after "=" when none)
//   foreground_window TITLE   first makes the top-level window titled TITLE the foreground
//                             window; exits 1 when there is no such window or it does not
//                             become the foreground within five seconds
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "common/Utf.h"

namespace {

std::wstring Title(HWND window) {
    wchar_t text[512] = {};
    if (window != nullptr) ::GetWindowTextW(window, text, 512);
    return text;
}

// The change reaches the window's own thread as a message: wait until it has taken it.
bool BringToFront(const std::wstring& title) {
    HWND window = ::FindWindowW(nullptr, title.c_str());
    if (window == nullptr || !::SetForegroundWindow(window)) return false;
    const ULONGLONG deadline = ::GetTickCount64() + 5000;
    while (::GetForegroundWindow() != window) {
        if (::GetTickCount64() > deadline) return false;
        ::Sleep(20);
    }
    return true;
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (arguments == nullptr) return 2;
    const std::wstring wanted = count > 1 ? arguments[1] : L"";
    ::LocalFree(arguments);
    const bool brought = wanted.empty() || BringToFront(wanted);
    const std::string line = "foreground=" + orivanta::Utf16ToUtf8(Title(::GetForegroundWindow())) + "\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return brought ? 0 : 1;
}
