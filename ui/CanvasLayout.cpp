#include "ui/CanvasLayout.h"

#include <windowsx.h>

namespace orivanta {
namespace {

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
    for (const HitTarget& target : kHitTargets) {
        if (target.rect.Contains(point)) return target.region;
    }
    return HitRegion::None;
}

HitRegion HitTest(HWND window, LPARAM packedPoint) {
    return HitTestCanvas(CanvasPointFromClient(window, GET_X_LPARAM(packedPoint), GET_Y_LPARAM(packedPoint)));
}

bool IsDragBandPoint(CanvasPoint point, bool captionButtonsShown) {
    const bool overCaptionButton =
        RegionRect(HitRegion::Minimize).Contains(point) || RegionRect(HitRegion::Close).Contains(point);
    return point.y < kDragBandBottom && !(captionButtonsShown && overCaptionButton);
}

}  // namespace orivanta
