// Reports which window has the keyboard on the Wine desktop, and brings a
// window there on request. Keys typed on the X display reach the window Wine
// holds in the foreground, whichever X window has the X focus, so the window
// tests ask here before they type.
//
//   foreground_window         prints "foreground=<title>" (UTF-8; nothing after "=" when none)
//   foreground_window TITLE   first makes the top-level window titled TITLE the foreground
//                             window; exits 1 when there is no such window or it does not
//                             become the foreground within five seconds
//   foreground_window --dpi=DPI TITLE LEFT TOP RIGHT BOTTOM
//                             sends that window the WM_DPICHANGED of a move to a monitor of
//                             DPI, suggesting the rectangle given (Wine never sends it);
//                             exits 1 when there is no such window
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "common/Handles.h"
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

// The message points at the rectangle, and Wine does not copy it between
// processes: it is written into the window's process, and the message sent.
int SendDpiChanged(LPWSTR* arguments) {
    const int dpi = std::stoi(arguments[1] + 6);
    const RECT suggested{std::stoi(arguments[3]), std::stoi(arguments[4]), std::stoi(arguments[5]),
                         std::stoi(arguments[6])};
    HWND window = ::FindWindowW(nullptr, arguments[2]);
    DWORD processId = 0;
    if (window == nullptr || ::GetWindowThreadProcessId(window, &processId) == 0) return 1;
    orivanta::UniqueHandle process(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, processId));
    void* remote = process ? ::VirtualAllocEx(process.get(), nullptr, sizeof suggested, MEM_COMMIT, PAGE_READWRITE)
                           : nullptr;
    if (remote == nullptr || !::WriteProcessMemory(process.get(), remote, &suggested, sizeof suggested, nullptr)) {
        return 1;
    }
    ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(remote));
    ::VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
    return 0;
}

int main() {
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (arguments == nullptr) return 2;
    if (count == 7 && std::wstring(arguments[1]).starts_with(L"--dpi=")) return SendDpiChanged(arguments);
    const std::wstring wanted = count > 1 ? arguments[1] : L"";
    ::LocalFree(arguments);
    const bool brought = wanted.empty() || BringToFront(wanted);
    const std::string line = "foreground=" + orivanta::Utf16ToUtf8(Title(::GetForegroundWindow())) + "\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return brought ? 0 : 1;
}
