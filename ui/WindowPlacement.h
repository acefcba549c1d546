#pragma once
// The main window's initial size and position: the canvas scaled to the
// screen's DPI, shrunk to fit the work area, never below 70 %, and centred.

#include <windows.h>

namespace orivanta {

struct WindowPlacement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

WindowPlacement ComputeWindowPlacement(int dpi, const RECT& workArea);
// Reads the screen DPI (96 without a DC) and the work area.
WindowPlacement InitialWindowPlacement();

// Corner ellipse of the rounded window shape: 18 pixels at 96 DPI.
int CornerEllipseSize(int dpi);

}  // namespace orivanta
