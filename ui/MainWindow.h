#pragma once
// The program's one top-level window: frameless, rounded, drawn entirely by the
// program on the fixed canvas, with hover, drag band and keyboard focus.

#include <windows.h>

namespace orivanta {

constexpr const wchar_t* kMainWindowClass = L"OrivantaInstallerWindow";
constexpr const wchar_t* kMainWindowTitle = L"欧瑞凡达安装助手";

// Raise "window registration failed" and "window creation failed".
void RegisterMainWindowClass(HINSTANCE instance);
HWND CreateMainWindow(HINSTANCE instance);

// A failure inside the window procedure cannot cross the system's dispatch
// frames; it is kept and raised again here, on the message loop's own frame.
void RethrowWindowProcedureFailure();

}  // namespace orivanta
