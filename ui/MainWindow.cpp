#include "ui/MainWindow.h"

#include <windowsx.h>

#include <exception>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "common/SystemErrorText.h"
#include "common/Utf.h"
#include "ui/AccessibleWindow.h"
#include "ui/CanvasLayout.h"
#include "ui/DeviceResources.h"
#include "ui/FocusNavigation.h"
#include "ui/GdiRenderer.h"
#include "ui/Palette.h"
#include "ui/SceneRenderer.h"
#include "ui/UserActions.h"
#include "ui/WindowInteraction.h"
#include "ui/WindowPlacement.h"
#include "state/AppState.h"
#include "state/Edition.h"

namespace orivanta {
namespace {

constexpr LRESULT kWantedDialogKeys = DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_WANTARROWS;

std::exception_ptr pendingFailure;
// Clicks are mapped onto whichever layout the last frame showed.
PaintedWith lastFrame = PaintedWith::Direct2D;
// The DPI of the monitor the window is on: the system's at creation, then each WM_DPICHANGED's.
int windowDpi = 96;

void Invalidate(HWND window) {
    ::InvalidateRect(window, nullptr, FALSE);
}

bool HostFound() {
    AppState& app = App();
    std::lock_guard<std::mutex> lock(app.stateMutex);
    return app.lanState == LanState::HostFound;
}

HitRegion RegionAt(HWND window, LPARAM packedPoint) {
    if (lastFrame == PaintedWith::Gdi) return GdiHitTest(window, packedPoint);
    return HitTest(window, packedPoint);
}

void ApplyRoundedShape(HWND window) {
    RECT client{};
    ::GetClientRect(window, &client);
    const int ellipse = CornerEllipseSize(windowDpi);
    HRGN region = ::CreateRoundRectRgn(0, 0, client.right + 1, client.bottom + 1, ellipse, ellipse);
    // On success the system owns the region.
    if (region != nullptr && ::SetWindowRgn(window, region, FALSE) == 0) ::DeleteObject(region);
}

int SystemDpi(HWND window) {
    int dpi = 96;
    if (HDC dc = ::GetDC(window)) {
        dpi = ::GetDeviceCaps(dc, LOGPIXELSX);
        ::ReleaseDC(window, dc);
    }
    return dpi;
}

// Moved to a monitor of another scale: take the size Windows suggests, and draw
// anew at it, since a render target keeps the DPI it was created with.
void DpiChanged(HWND window, int dpi, const RECT& suggested) {
    windowDpi = dpi;
    ReleaseDeviceResources();
    ::SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyRoundedShape(window);
    Invalidate(window);
}

LRESULT NonClientHitTest(HWND window, WPARAM wParam, LPARAM lParam) {
    const LRESULT answer = ::DefWindowProcW(window, WM_NCHITTEST, wParam, lParam);
    if (answer != HTCLIENT) return answer;
    POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ::ScreenToClient(window, &point);
    const bool captionButtonsShown = lastFrame == PaintedWith::Direct2D;
    return IsDragBandPoint(CanvasPointFromClient(window, point.x, point.y), captionButtonsShown) ? HTCAPTION
                                                                                                  : HTCLIENT;
}

void UpdateHover(HWND window, LPARAM packedPoint) {
    WindowInteraction& interaction = Interaction();
    const HitRegion region = RegionAt(window, packedPoint);
    if (region != interaction.hoverRegion) {
        interaction.hoverRegion = region;
        Invalidate(window);
    }
    TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, window, 0};
    ::TrackMouseEvent(&track);
}

bool KeyPressed(HWND window, WPARAM key) {
    FocusItem& focus = Interaction().focusIndex;
    switch (key) {
    case VK_TAB:
        focus = TabFocus(focus, ::GetKeyState(VK_SHIFT) < 0, HostFound());
        Invalidate(window);
        return true;
    case VK_LEFT:
    case VK_RIGHT:
        focus = ArrowFocus(focus, HostFound());
        Invalidate(window);
        return true;
    case VK_RETURN:
    case VK_SPACE:
        if (focus == FocusItem::ServerCard) {
            SelectEdition(window, Edition::Server);
        } else if (focus == FocusItem::ClientCard) {
            SelectEdition(window, Edition::Client);
        } else if (focus == FocusItem::MainButton) {
            MainButtonAction();
        }
        return true;
    case VK_ESCAPE:
        ::SendMessageW(window, WM_CLOSE, 0, 0);
        return true;
    default:
        return false;
    }
}

LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    AppState& app = App();
    switch (message) {
    case WM_CREATE:
        windowDpi = SystemDpi(window);
        RefreshPalette();
        ApplyRoundedShape(window);
        return 0;
    case WM_DPICHANGED:
        DpiChanged(window, LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
        // High contrast switched on or off, or its colours changed.
        RefreshPalette();
        Invalidate(window);
        return 0;
    case WM_SIZE:
        if (ID2D1HwndRenderTarget* target = Graphics().renderTarget.get()) {
            target->Resize(D2D1::SizeU(LOWORD(lParam), HIWORD(lParam)));
        }
        ApplyRoundedShape(window);
        Invalidate(window);
        return 0;
    case WM_PAINT:
        lastFrame = PaintWindow(window);
        AnnounceAccessibleChanges(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_NCHITTEST:
        return NonClientHitTest(window, wParam, lParam);
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && Interaction().hoverRegion != HitRegion::None) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    case WM_MOUSEMOVE:
        UpdateHover(window, lParam);
        return 0;
    case WM_MOUSELEAVE:
        Interaction().hoverRegion = HitRegion::None;
        Invalidate(window);
        return 0;
    case WM_LBUTTONUP:
        ActivateRegion(window, RegionAt(window, lParam));
        return 0;
    case WM_KEYDOWN:
        if (KeyPressed(window, wParam)) return 0;
        break;
    case WM_SETFOCUS:
        Interaction().focusIndex = FocusOnActivation(Interaction().focusIndex, HostFound());
        Invalidate(window);
        return 0;
    case WM_GETDLGCODE:
        return kWantedDialogKeys;
    case WM_CLOSE:
        HandleCloseRequest(window);
        return 0;
    case WM_GETOBJECT:
        if (const LRESULT answer = AnswerGetObject(window, wParam, lParam)) return answer;
        break;
    case kAccessibleActionMessage:
        ActivateRegion(window, static_cast<HitRegion>(wParam));
        return 0;
    case WM_ENABLE:
        // The next frame announces that the items became unavailable, or available again.
        Invalidate(window);
        return 0;
    case WM_DESTROY:
        DisconnectAccessibleObject();
        app.windowClosing = true;
        ReleaseDeviceResources();
        ::PostQuitMessage(app.exitCode.load());
        return 0;
    case kRefreshMessage:
        Invalidate(window);
        return 0;
    case kWorkerDoneMessage:
        HandleWorkerDone(window, static_cast<WorkerOutcome>(wParam));
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK MainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return HandleMessage(window, message, wParam, lParam);
    } catch (...) {
        if (!pendingFailure) pendingFailure = std::current_exception();
        return 0;
    }
}

}  // namespace

void RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS | CS_DROPSHADOW;
    windowClass.lpfnWndProc = MainWindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIconResourceId), IMAGE_ICON,
                                                        ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                                                        LR_DEFAULTCOLOR));
    windowClass.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIconResourceId), IMAGE_ICON,
                                                          ::GetSystemMetrics(SM_CXSMICON),
                                                          ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kMainWindowClass;
    if (::RegisterClassExW(&windowClass) == 0) throw std::runtime_error("window registration failed");
}

HWND CreateMainWindow(HINSTANCE instance) {
    const WindowPlacement placement = InitialWindowPlacement();
    HWND window = ::CreateWindowExW(WS_EX_APPWINDOW, kMainWindowClass, kMainWindowTitle,
                                    WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, placement.x, placement.y, placement.width,
                                    placement.height, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        throw std::runtime_error("window creation failed: " + Utf16ToUtf8(SystemErrorText(::GetLastError())));
    }
    return window;
}

void RethrowWindowProcedureFailure() {
    if (pendingFailure) std::rethrow_exception(std::exchange(pendingFailure, nullptr));
}

}  // namespace orivanta
