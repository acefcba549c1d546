#pragma once
// Paints one WM_PAINT: the scene with Direct2D, or the GDI layout when no
// render target can be created.

#include <windows.h>

namespace orivanta {

enum class PaintedWith { Direct2D, Gdi };

PaintedWith PaintWindow(HWND window);

}  // namespace orivanta
