#include "ui/WindowPlacement.h"

#include <algorithm>

#include "ui/CanvasLayout.h"

namespace orivanta {

WindowPlacement ComputeWindowPlacement(int dpi, const RECT& workArea) {
    const int workWidth = workArea.right - workArea.left;
    const int workHeight = workArea.bottom - workArea.top;
    const float dpiScale = static_cast<float>(dpi) / 96.0f;
    const float widthFit = static_cast<float>(workWidth - 40) / kCanvasWidth;
    const float heightFit = static_cast<float>(workHeight - 40) / kCanvasHeight;
    const float scale = std::max(std::min({dpiScale, widthFit, heightFit}), 0.7f);

    WindowPlacement placement;
    placement.width = static_cast<int>(scale * kCanvasWidth + 0.5f);
    placement.height = static_cast<int>(scale * kCanvasHeight + 0.5f);
    placement.x = workArea.left + (workWidth - placement.width) / 2;
    placement.y = workArea.top + (workHeight - placement.height) / 2;
    return placement;
}

WindowPlacement InitialWindowPlacement() {
    int dpi = 96;
    if (HDC screen = ::GetDC(nullptr)) {
        dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
        ::ReleaseDC(nullptr, screen);
    }
    RECT workArea{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    return ComputeWindowPlacement(dpi, workArea);
}

int CornerEllipseSize(int dpi) {
    return ::MulDiv(18, dpi, 96);
}

}  // namespace orivanta
