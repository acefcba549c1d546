#pragma once
// The window's fixed logical canvas: every layout number of the window is in
// these units, whatever the client size. Pure mapping and hit tests, plus thin
// wrappers that read the window's client rectangle.

#include <windows.h>

namespace orivanta {

constexpr float kCanvasWidth = 1120.0f;
constexpr float kCanvasHeight = 710.0f;

// Clickable items; the numbers of the first three are also the focus numbers.
enum class HitRegion : int { None = 0, ServerCard = 1, ClientCard = 2, MainButton = 3, Minimize = 4, Close = 5 };

struct CanvasPoint {
    float x = 0.0f;
    float y = 0.0f;
};

// A zero client width or height maps that coordinate to 0.
CanvasPoint MapClientToCanvas(float x, float y, int clientWidth, int clientHeight);
CanvasPoint CanvasPointFromClient(HWND window, int x, int y);

// Rectangles are tested with inclusive bounds in the order Minimize, Close,
// ServerCard, ClientCard, MainButton, so the shared edge x = 1060 is Minimize.
HitRegion HitTestCanvas(CanvasPoint point);
// packedPoint: the client coordinates of a mouse message (signed 16-bit x and y).
HitRegion HitTest(HWND window, LPARAM packedPoint);

// True where the header band drags the window: above y = 66, outside the
// minimise and close buttons when they are shown (the GDI layout has none).
bool IsDragBandPoint(CanvasPoint point, bool captionButtonsShown = true);

}  // namespace orivanta
