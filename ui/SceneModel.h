#pragma once
// The window's scene as plain data: what one frame draws, in drawing order, on
// the 1120 x 710 canvas. Built from a state snapshot without touching any
// graphics object, and executed by the Direct2D renderer.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "state/AppState.h"
#include "ui/CanvasLayout.h"
#include "ui/FocusNavigation.h"
#include "ui/Palette.h"

namespace orivanta {

// Scene rectangles are canvas rectangles: the clickable items are drawn at their hit rectangles.
using SceneRect = CanvasRect;

enum class TextAlign : int { Leading = 0, Trailing = 1, Center = 2 };

// Colours are 0xRRGGBB.
struct HeaderBandItem {
    SceneRect rect;
    std::uint32_t startColor = 0;
    std::uint32_t endColor = 0;
};
struct FillRoundItem {
    SceneRect rect;
    std::uint32_t color = 0;
    float radius = 0;
    float opacity = 1;
};
struct StrokeRoundItem {
    SceneRect rect;
    std::uint32_t color = 0;
    float radius = 0;
    float strokeWidth = 1;
    float opacity = 1;
};
struct LineItem {
    std::uint32_t color = 0;
    float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    float width = 1;
};
struct LabelItem {
    std::wstring text;
    std::uint32_t color = 0;
    float fontSize = 0;
    SceneRect rect;
    int weight = 400;
    TextAlign align = TextAlign::Leading;
};
// Drawn only when the bitmap was loaded.
struct LogoItem {
    SceneRect destination;
    float opacity = 1;
    SceneRect source;
};
struct QrItem {
    SceneRect destination;
    float opacity = 1;
};

using SceneItem = std::variant<HeaderBandItem, FillRoundItem, StrokeRoundItem, LineItem, LabelItem, LogoItem, QrItem>;

// Everything one frame depends on.
struct SceneInput {
    DisplaySnapshot snapshot;
    bool busy = false;
    HitRegion hoverRegion = HitRegion::None;
    FocusItem focusIndex = FocusItem::None;
    Palette palette = kBrandPalette;
};

std::vector<SceneItem> BuildScene(const SceneInput& input);

// Bytes in MB with exactly one decimal ("12.3", "0.0").
std::wstring FormatMegabytes(std::int64_t bytes);

}  // namespace orivanta
