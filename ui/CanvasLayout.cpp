#include "ui/CanvasLayout.h"

#include <windowsx.h>

namespace orivanta {
namespace {

struct CanvasRect {
    float left, top, right, bottom;
    bool Contains(CanvasPoint p) const { return p.x >= left && p.x <= right && p.y >= top && p.y <= bottom; }
};

constexpr CanvasRect kMinimizeRect{1012, 8, 1060, 58};
constexpr CanvasRect kCloseRect{1060, 8, 1112, 58};
constexpr CanvasRect kServerCardRect{54, 310, 546, 544};
constexpr CanvasRect kClientCardRect{574, 310, 1066, 544};
constexpr CanvasRect kMainButtonRect{884, 598, 1048, 652};
constexpr float kDragBandBottom = 66.0f;

}  // namespace

CanvasPoint MapClientToCanvas(float x, float y, int clientWidth, int clientHeight) {
    CanvasPoint point;
    point.x = clientWidth != 0 ? x * kCanvasWidth / static_cast<float>(clientWidth) : 0.0f;
    point.y = clientHeight != 0 ? y * kCanvasHeight / static_cast<float>(clientHeight) : 0.0f;
    return point;
}

CanvasPoint CanvasPointFromClient(HWND window, int x, int y) {
    RECT client{};
    ::GetClientRect(window, &client);
    return MapClientToCanvas(static_cast<float>(x), static_cast<float>(y), client.right - client.left,
                             client.bottom - client.top);
}

HitRegion HitTestCanvas(CanvasPoint point) {
    if (kMinimizeRect.Contains(point)) return HitRegion::Minimize;
    if (kCloseRect.Contains(point)) return HitRegion::Close;
    if (kServerCardRect.Contains(point)) return HitRegion::ServerCard;
    if (kClientCardRect.Contains(point)) return HitRegion::ClientCard;
    if (kMainButtonRect.Contains(point)) return HitRegion::MainButton;
    return HitRegion::None;
}

HitRegion HitTest(HWND window, LPARAM packedPoint) {
    return HitTestCanvas(CanvasPointFromClient(window, GET_X_LPARAM(packedPoint), GET_Y_LPARAM(packedPoint)));
}

bool IsDragBandPoint(CanvasPoint point, bool captionButtonsShown) {
    const bool overCaptionButton = kMinimizeRect.Contains(point) || kCloseRect.Contains(point);
    return point.y < kDragBandBottom && !(captionButtonsShown && overCaptionButton);
}

}  // namespace orivanta
