#include "app/SecondRun.h"

#include <windows.h>

#include "state/AppState.h"
#include "state/RunJournal.h"
#include "ui/MainWindow.h"

namespace orivanta {
namespace {

HWND VisibleMainWindow() {
    for (HWND window = ::FindWindowExW(nullptr, nullptr, kMainWindowClass, nullptr); window != nullptr;
         window = ::FindWindowExW(nullptr, window, kMainWindowClass, nullptr)) {
        if (::IsWindowVisible(window)) return window;
    }
    return nullptr;
}

// The working run may still be starting up, before its window shows.
HWND WaitForVisibleMainWindow(unsigned long milliseconds) {
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    for (;;) {
        if (HWND window = VisibleMainWindow()) return window;
        if (::GetTickCount64() >= deadline) return nullptr;
        ::Sleep(100);
    }
}

}  // namespace

int GiveWayToWorkingRun(RunJournal* diagnostics, bool autoStart, bool diagnosticMode,
                        unsigned long windowWaitMilliseconds) {
    if (autoStart) {
        if (diagnostics != nullptr) {
            diagnostics->Finish(L"UnhandledException", kAutomaticRunFailedExitCode,
                                L"另一个安装助手正在本机运行，本次自动化下载未开始。",
                                L"请等正在运行的安装助手结束后重试；本次未创建下载会话，也未改动任何下载文件。", L"");
        }
        return kAutomaticRunFailedExitCode;
    }
    if (diagnostics != nullptr) diagnostics->FinishWithoutReport();
    if (HWND window = WaitForVisibleMainWindow(windowWaitMilliseconds)) {
        if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
        ::SetForegroundWindow(window);
    } else if (!diagnosticMode) {
        ::MessageBoxW(nullptr, L"安装助手已在本机运行（可能在另一位用户的会话中）。\n\n请等它结束后再打开。",
                      kMainWindowTitle, MB_OK | MB_ICONINFORMATION);
    }
    return 0;
}

}  // namespace orivanta
