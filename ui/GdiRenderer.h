#pragma once
// The plain-GDI screen painted when no Direct2D render target can be created:
// a simpler layout on its own 820 x 640 canvas, double-buffered through a
// memory DC, with the same state as the Direct2D scene and no hover or focus
// feedback. Its clicks map onto what it shows, not onto the Direct2D layout.

#include <windows.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "state/AppState.h"
#include "ui/CanvasLayout.h"
#include "ui/Palette.h"

namespace orivanta {

constexpr int kGdiCanvasWidth = 820;
constexpr int kGdiCanvasHeight = 640;

// Character heights 13, 17, 24 and 27 units; weights 400, 700, 700, 700.
enum class GdiFont : int { Small = 0, Medium = 1, Large = 2, Title = 3 };
enum class GdiAlign : int { Left = 0, Centre = 1, Right = 2 };

// Rectangles are (left, top, right, bottom) in canvas units; colours 0xRRGGBB.
struct GdiFill {
    RECT rect;
    std::uint32_t color;
};
struct GdiOutline {
    RECT rect;
    std::uint32_t color;
    int width;
};
struct GdiText {
    std::wstring text;
    RECT rect;
    std::uint32_t color;
    GdiFont font;
    GdiAlign align;
};
// BITMAP 102 stretched into the rectangle; left out when it cannot be loaded.
struct GdiQrImage {
    RECT rect;
};
using GdiElement = std::variant<GdiFill, GdiOutline, GdiText, GdiQrImage>;

// The elements of one frame in drawing order, from the frame's snapshot and `busy`.
std::vector<GdiElement> BuildGdiLayout(const DisplaySnapshot& snapshot, bool busy,
                                       const Palette& palette = kBrandPalette);

// Draws the layout over the whole width x height pixels of `target`, through a
// memory DC that maps the 820 x 640 canvas onto them. `module` holds BITMAP 102.
void DrawGdiFrame(HDC target, int width, int height, const std::vector<GdiElement>& layout, HMODULE module);

// WM_PAINT of the main window while it has no Direct2D render target.
void RenderGdiFrame(HWND window);

// Client pixels to the 820 x 640 canvas; a zero client width or height gives 0 on that axis.
struct GdiCanvasPoint {
    float x = 0.0f;
    float y = 0.0f;
};
GdiCanvasPoint GdiCanvasPointFromClient(int x, int y, int clientWidth, int clientHeight);

// The item under a point for what this layout shows there: its cards and its
// button. It draws no minimise or close button, so it has no such regions;
// Escape, Alt+F4 and the taskbar still close the window.
HitRegion GdiHitRegionAt(GdiCanvasPoint point);
// packedPoint: the client coordinates of a mouse message (signed 16-bit x and y).
HitRegion GdiHitTest(HWND window, LPARAM packedPoint);

}  // namespace orivanta
