#include <gtest/gtest.h>

#include "ui/CanvasLayout.h"
#include "ui/FocusNavigation.h"
#include "ui/WindowPlacement.h"

namespace orivanta {
namespace {

TEST(CanvasMapping, ScalesClientPixelsOntoTheCanvas) {
    const CanvasPoint same = MapClientToCanvas(560, 355, 1120, 710);
    EXPECT_FLOAT_EQ(same.x, 560);
    EXPECT_FLOAT_EQ(same.y, 355);

    const CanvasPoint scaled = MapClientToCanvas(1577, 1000, 1577, 1000);
    EXPECT_FLOAT_EQ(scaled.x, 1120);
    EXPECT_FLOAT_EQ(scaled.y, 710);

    const CanvasPoint half = MapClientToCanvas(392, 248.5f, 784, 497);
    EXPECT_FLOAT_EQ(half.x, 560);
    EXPECT_FLOAT_EQ(half.y, 355);
}

TEST(CanvasMapping, ZeroSizedClientMapsThatAxisToZero) {
    const CanvasPoint minimised = MapClientToCanvas(300, 40, 0, 0);
    EXPECT_EQ(minimised.x, 0);
    EXPECT_EQ(minimised.y, 0);
    EXPECT_EQ(HitTestCanvas(minimised), HitRegion::None);
    EXPECT_TRUE(IsDragBandPoint(minimised));

    const CanvasPoint flat = MapClientToCanvas(560, 40, 1120, 0);
    EXPECT_FLOAT_EQ(flat.x, 560);
    EXPECT_EQ(flat.y, 0);
}

TEST(HitTesting, SharedEdgeBetweenMinimiseAndCloseBelongsToMinimise) {
    EXPECT_EQ(HitTestCanvas({1060, 30}), HitRegion::Minimize);
    EXPECT_EQ(HitTestCanvas({1060.5f, 30}), HitRegion::Close);
    EXPECT_EQ(HitTestCanvas({1012, 8}), HitRegion::Minimize);
    EXPECT_EQ(HitTestCanvas({1112, 58}), HitRegion::Close);
    EXPECT_EQ(HitTestCanvas({1112.5f, 30}), HitRegion::None);
    EXPECT_EQ(HitTestCanvas({1030, 58.5f}), HitRegion::None);
}

TEST(HitTesting, CardsAndButtonHaveInclusiveBounds) {
    EXPECT_EQ(HitTestCanvas({54, 310}), HitRegion::ServerCard);
    EXPECT_EQ(HitTestCanvas({546, 544}), HitRegion::ServerCard);
    EXPECT_EQ(HitTestCanvas({560, 400}), HitRegion::None);  // gap between the cards
    EXPECT_EQ(HitTestCanvas({574, 310}), HitRegion::ClientCard);
    EXPECT_EQ(HitTestCanvas({1066, 544}), HitRegion::ClientCard);
    EXPECT_EQ(HitTestCanvas({1066.5f, 400}), HitRegion::None);
    EXPECT_EQ(HitTestCanvas({884, 598}), HitRegion::MainButton);
    EXPECT_EQ(HitTestCanvas({1048, 652}), HitRegion::MainButton);
    EXPECT_EQ(HitTestCanvas({883.5f, 620}), HitRegion::None);
    EXPECT_EQ(HitTestCanvas({300, 600}), HitRegion::None);  // bottom panel text
}

TEST(HitTesting, MapsScaledClientCoordinates) {
    // A 784 x 497 window (70 %): the close glyph's centre and the client card.
    EXPECT_EQ(HitTestCanvas(MapClientToCanvas(757, 23, 784, 497)), HitRegion::Close);
    EXPECT_EQ(HitTestCanvas(MapClientToCanvas(574, 300, 784, 497)), HitRegion::ClientCard);
}

TEST(DragBand, HeaderDragsExceptOverTheCaptionButtons) {
    EXPECT_TRUE(IsDragBandPoint({1000, 30}));
    EXPECT_FALSE(IsDragBandPoint({1030, 30}));  // minimise button
    EXPECT_TRUE(IsDragBandPoint({1030, 62}));   // strip under the buttons
    EXPECT_FALSE(IsDragBandPoint({500, 66}));
    EXPECT_TRUE(IsDragBandPoint({500, 65.9f}));
    EXPECT_FALSE(IsDragBandPoint({1112, 8}));
    EXPECT_TRUE(IsDragBandPoint({1115, 30}));
}

TEST(DragBand, WithoutCaptionButtonsTheWholeBandDrags) {
    EXPECT_TRUE(IsDragBandPoint({1030, 30}, false));
    EXPECT_TRUE(IsDragBandPoint({1080, 8}, false));
    EXPECT_FALSE(IsDragBandPoint({1080, 66}, false));
}

RECT WorkArea(int width, int height) {
    return RECT{0, 0, width, height};
}

TEST(InitialPlacement, FitsTheCanvasToDpiAndWorkArea) {
    const WindowPlacement normal = ComputeWindowPlacement(96, WorkArea(1920, 1040));
    EXPECT_EQ(normal.width, 1120);
    EXPECT_EQ(normal.height, 710);
    EXPECT_EQ(normal.x, 400);
    EXPECT_EQ(normal.y, 165);

    const WindowPlacement highDpi = ComputeWindowPlacement(144, WorkArea(1920, 1040));
    EXPECT_EQ(highDpi.width, 1577);
    EXPECT_EQ(highDpi.height, 1000);
    EXPECT_EQ(highDpi.x, 171);
    EXPECT_EQ(highDpi.y, 20);

    const WindowPlacement small = ComputeWindowPlacement(96, WorkArea(700, 500));
    EXPECT_EQ(small.width, 784);
    EXPECT_EQ(small.height, 497);
    EXPECT_EQ(small.x, -42);  // rounds toward zero
    EXPECT_EQ(small.y, 1);
}

TEST(InitialPlacement, CentresInAnOffsetWorkArea) {
    const WindowPlacement placement = ComputeWindowPlacement(96, RECT{1920, 40, 3840, 1080});
    EXPECT_EQ(placement.width, 1120);
    EXPECT_EQ(placement.x, 1920 + 400);
    EXPECT_EQ(placement.y, 40 + 165);
}

TEST(InitialPlacement, CornerEllipseFollowsDpi) {
    EXPECT_EQ(CornerEllipseSize(96), 18);
    EXPECT_EQ(CornerEllipseSize(144), 27);
    EXPECT_EQ(CornerEllipseSize(120), 23);  // 22.5 rounds up
}

// The focus numbers: 0 nothing, 1 server card, 2 client card, 3 main button.
int TabFocus(int focus, bool backward, bool hostFound) {
    return static_cast<int>(orivanta::TabFocus(static_cast<FocusItem>(focus), backward, hostFound));
}
int ArrowFocus(int focus, bool hostFound) {
    return static_cast<int>(orivanta::ArrowFocus(static_cast<FocusItem>(focus), hostFound));
}
int FocusOnActivation(int focus, bool hostFound) {
    return static_cast<int>(orivanta::FocusOnActivation(static_cast<FocusItem>(focus), hostFound));
}

TEST(FocusNavigation, TabCyclesThroughTheThreeItems) {
    EXPECT_EQ(TabFocus(0, false, false), 2);
    EXPECT_EQ(TabFocus(1, false, false), 2);
    EXPECT_EQ(TabFocus(2, false, false), 3);
    EXPECT_EQ(TabFocus(3, false, false), 1);
    EXPECT_EQ(TabFocus(0, true, false), 3);
    EXPECT_EQ(TabFocus(3, true, false), 2);
    EXPECT_EQ(TabFocus(2, true, false), 1);
    EXPECT_EQ(TabFocus(1, true, false), 3);
}

TEST(FocusNavigation, TabSkipsTheServerCardWhenAHostWasFound) {
    EXPECT_EQ(TabFocus(2, true, true), 3);
    EXPECT_EQ(TabFocus(3, false, true), 2);
    EXPECT_EQ(TabFocus(0, false, true), 2);
    EXPECT_EQ(TabFocus(0, true, true), 3);
    EXPECT_EQ(TabFocus(2, false, true), 3);
}

TEST(FocusNavigation, ArrowsToggleBetweenCards) {
    EXPECT_EQ(ArrowFocus(1, false), 2);
    EXPECT_EQ(ArrowFocus(2, false), 1);
    EXPECT_EQ(ArrowFocus(0, false), 1);
    EXPECT_EQ(ArrowFocus(3, false), 1);
    EXPECT_EQ(ArrowFocus(1, true), 2);
    EXPECT_EQ(ArrowFocus(3, true), 2);
}

TEST(FocusNavigation, ActivationFocusesTheFirstChoosableCard) {
    EXPECT_EQ(FocusOnActivation(0, false), 1);
    EXPECT_EQ(FocusOnActivation(0, true), 2);
    EXPECT_EQ(FocusOnActivation(3, true), 3);
    EXPECT_EQ(FocusOnActivation(1, false), 1);
}

}  // namespace
}  // namespace orivanta
