#pragma once
// The window's fixed logical canvas: every layout number of the window is in
// these units, whatever the client size. Pure mapping and hit tests, plus thin
// wrappers that read the window's client rectangle.

#include <windows.h>

namespace orivanta {

constexpr float kCanvasWidth = 1120.0f;
constexpr float kCanvasHeight = 710.0f;

// Clickable items.
enum class HitRegion : int { None = 0, ServerCard = 1, ClientCard = 2, MainButton = 3, Minimize = 4, Close = 5 };

struct CanvasPoint {
    float x = 0.0f;
    float y = 0.0f;
};

// (left, top, right, bottom); a point on an edge is inside.
struct CanvasRect {
    float left = 0, top = 0, right = 0, bottom = 0;
    constexpr bool Contains(CanvasPoint p) const { return p.x >= left && p.x <= right && p.y >= top && p.y <= bottom; }
    bool operator==(const CanvasRect&) const = default;
};

// Where each clickable item is drawn, and therefore where it is hit, in the
// order the hit test tries them: the shared edge x = 1060 belongs to Minimize.
struct HitTarget {
    HitRegion region;
    CanvasRect rect;
};
inline constexpr HitTarget kHitTargets[] = {
    {HitRegion::Minimize, {1012, 8, 1060, 58}},
    {HitRegion::Close, {1060, 8, 1112, 58}},
    {HitRegion::ServerCard, {54, 310, 546, 544}},
    {HitRegion::ClientCard, {574, 310, 1066, 544}},
    {HitRegion::MainButton, {884, 598, 1048, 652}},
};

// The item's rectangle from the table; empty for None.
constexpr CanvasRect RegionRect(HitRegion region) {
    for (const HitTarget& target : kHitTargets) {
        if (target.region == region) return target.rect;
    }
    return {};
}

// Where the items that are read but not clicked are drawn: the scene draws them
// here, and the accessibility tree reports them here.
enum class Landmark : int {
    Title,
    Hotline,
    Heading,
    Subheading,
    LanBox,
    LanHeadline,  // holds the box's first text line
    LanDetail,    // and its second
    HelpCard,
    HelpHeadline,
    QrImage,
    ServerCardName,
    ClientCardName,
    EditionLine,
    SaveLine,
    DetailText,
    StatusText,
    ProgressTrack,
    ProgressPercent,
    ProgressFigures,  // the percent, the amounts and the speed
};
struct LandmarkPlace {
    Landmark landmark;
    CanvasRect rect;
};
inline constexpr LandmarkPlace kLandmarks[] = {
    {Landmark::Title, {282, 10, 420, 56}},
    {Landmark::Hotline, {726, 10, 998, 56}},
    {Landmark::Heading, {54, 102, 650, 151}},
    {Landmark::Subheading, {54, 153, 830, 184}},
    {Landmark::LanBox, {54, 206, 490, 288}},
    {Landmark::LanHeadline, {142, 218, 470, 249}},
    {Landmark::LanDetail, {142, 249, 472, 278}},
    {Landmark::HelpCard, {682, 94, 1066, 286}},
    {Landmark::HelpHeadline, {712, 115, 884, 150}},
    {Landmark::QrImage, {894, 108, 1052, 266}},
    {Landmark::ServerCardName, {210, 346, 370, 389}},
    {Landmark::ClientCardName, {742, 346, 936, 389}},
    {Landmark::EditionLine, {80, 584, 580, 618}},
    {Landmark::SaveLine, {118, 621, 700, 661}},
    {Landmark::DetailText, {80, 584, 640, 614}},
    {Landmark::StatusText, {80, 613, 580, 640}},
    {Landmark::ProgressTrack, {80, 648, 640, 656}},
    {Landmark::ProgressPercent, {660, 584, 744, 616}},
    {Landmark::ProgressFigures, {654, 584, 856, 650}},
};

constexpr CanvasRect LandmarkRect(Landmark landmark) {
    for (const LandmarkPlace& place : kLandmarks) {
        if (place.landmark == landmark) return place.rect;
    }
    return {};
}

// Whether `inner` lies wholly inside `outer` (edges included).
constexpr bool Encloses(CanvasRect outer, CanvasRect inner) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// A zero client width or height maps that coordinate to 0.
CanvasPoint MapClientToCanvas(float x, float y, int clientWidth, int clientHeight);
CanvasPoint CanvasPointFromClient(HWND window, int x, int y);

// The first item of kHitTargets whose rectangle holds the point.
HitRegion HitTestCanvas(CanvasPoint point);
// packedPoint: the client coordinates of a mouse message (signed 16-bit x and y).
HitRegion HitTest(HWND window, LPARAM packedPoint);

// True where the header band drags the window: above y = 66, outside the
// minimise and close buttons when they are shown (the GDI layout has none).
bool IsDragBandPoint(CanvasPoint point, bool captionButtonsShown = true);

}  // namespace orivanta
