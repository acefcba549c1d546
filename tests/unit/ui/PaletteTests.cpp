#include <gtest/gtest.h>

#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "AppStateReset.h"
#include "common/Handles.h"
#include "common/Utf.h"
#include "ui/DeviceResources.h"
#include "ui/GdiRenderer.h"
#include "ui/MainWindow.h"
#include "ui/Palette.h"
#include "ui/SceneModel.h"

namespace orivanta {
namespace {

using Role = std::uint32_t Palette::*;

// Every system colour recognisable by its index.
std::uint32_t IndexedColour(int index) {
    return 0x100000u + static_cast<std::uint32_t>(index);
}

bool highContrast = false;
bool HighContrastSwitch() {
    return highContrast;
}

TEST(Palette, BrandUnlessHighContrastThenOnlySystemColoursAndNoDecorations) {
    UseColourScheme({HighContrastSwitch, IndexedColour});
    highContrast = false;
    RefreshPalette();
    EXPECT_EQ(CurrentPalette(), kBrandPalette);

    highContrast = true;
    RefreshPalette();
    const Palette& contrast = CurrentPalette();
    EXPECT_FALSE(contrast.decorations);
    // Every role is one of the seven system colours, and what is read stands on its system pair.
    const int systemColours[] = {COLOR_WINDOW,  COLOR_WINDOWTEXT, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT,
                                 COLOR_BTNFACE, COLOR_GRAYTEXT,   COLOR_HOTLIGHT};
    const auto* roles = reinterpret_cast<const std::uint32_t*>(&contrast);
    for (std::size_t i = 0; i < offsetof(Palette, decorations) / sizeof(std::uint32_t); ++i) {
        EXPECT_TRUE(std::any_of(std::begin(systemColours), std::end(systemColours),
                                [&](int index) { return roles[i] == IndexedColour(index); }))
            << "role " << i;
    }
    const std::pair<Role, int> pairs[] = {
        {&Palette::background, COLOR_WINDOW},       {&Palette::text, COLOR_WINDOWTEXT},
        {&Palette::focusRing, COLOR_WINDOWTEXT},    {&Palette::accent, COLOR_HIGHLIGHT},
        {&Palette::buttonText, COLOR_HIGHLIGHTTEXT}, {&Palette::disabledButton, COLOR_BTNFACE},
        {&Palette::disabledButtonText, COLOR_GRAYTEXT}, {&Palette::link, COLOR_HOTLIGHT},
    };
    for (const auto& [role, systemColour] : pairs) EXPECT_EQ(contrast.*role, IndexedColour(systemColour));

    // No gradient, shadow or translucency; the disabled button keeps an outline in both layouts.
    SceneInput input;
    input.palette = contrast;
    const std::vector<SceneItem> scene = BuildScene(input);
    EXPECT_TRUE(std::none_of(scene.begin(), scene.end(), [](const SceneItem& item) {
        const auto* fill = std::get_if<FillRoundItem>(&item);
        return std::holds_alternative<HeaderBandItem>(item) || (fill != nullptr && fill->opacity != 1.0f);
    }));
    EXPECT_TRUE(std::any_of(scene.begin(), scene.end(), [](const SceneItem& item) {
        const auto* stroke = std::get_if<StrokeRoundItem>(&item);
        return stroke != nullptr && stroke->rect == RegionRect(HitRegion::MainButton) &&
               stroke->color == IndexedColour(COLOR_GRAYTEXT);
    }));
    const std::vector<GdiElement> layout = BuildGdiLayout(input.snapshot, false, contrast);
    EXPECT_TRUE(std::any_of(layout.begin(), layout.end(), [](const GdiElement& element) {
        const auto* outline = std::get_if<GdiOutline>(&element);
        return outline != nullptr && outline->rect.left == 574 && outline->color == IndexedColour(COLOR_GRAYTEXT);
    }));
    UseColourScheme(WindowsColourScheme());
}

// High-contrast white: every system colour far from the brand's.
std::uint32_t WhiteScheme(int index) {
    switch (index) {
    case COLOR_HIGHLIGHT: return 0x37006E;
    case COLOR_GRAYTEXT: return 0x600000;
    case COLOR_HOTLIGHT: return 0x00009F;
    case COLOR_WINDOWTEXT: return 0x000000;
    default: return 0xFFFFFF;
    }
}

// The window's pixel at a canvas point, as it is on the screen.
std::uint32_t ScreenColour(HWND window, CanvasPoint p) {
    RECT r{};
    ::GetWindowRect(window, &r);
    HDC screen = ::GetDC(nullptr);
    const COLORREF c = ::GetPixel(screen, r.left + static_cast<int>(p.x * (r.right - r.left) / kCanvasWidth),
                                  r.top + static_cast<int>(p.y * (r.bottom - r.top) / kCanvasHeight));
    ::ReleaseDC(nullptr, screen);
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

// The window as it is on the screen, kept as a PNG beside the window tests' screenshots.
bool SaveScreenshot(HWND window, const wchar_t* name) {
    RECT r{};
    ::GetWindowRect(window, &r);
    HDC screen = ::GetDC(nullptr);
    UniqueMemoryDc memory(::CreateCompatibleDC(screen));
    UniqueGdiObject shot(::CreateCompatibleBitmap(screen, r.right - r.left, r.bottom - r.top));
    {
        ScopedSelectObject select(memory.get(), shot.get());
        ::BitBlt(memory.get(), 0, 0, r.right - r.left, r.bottom - r.top, screen, r.left, r.top, SRCCOPY);
    }
    ::ReleaseDC(nullptr, screen);
    const std::wstring folder = L"Z:" + Utf8ToUtf16(std::getenv("ORIVANTA_BUILD_DIR")) + L"/screenshots";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    IWICImagingFactory* imaging = Graphics().imagingFactory.get();
    ComPtr<IWICBitmap> bitmap;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    return SUCCEEDED(imaging->CreateBitmapFromHBITMAP(static_cast<HBITMAP>(shot.get()), nullptr, WICBitmapIgnoreAlpha,
                                                      bitmap.put())) &&
           SUCCEEDED(imaging->CreateStream(stream.put())) &&
           SUCCEEDED(stream->InitializeFromFilename((folder + L"/" + name).c_str(), GENERIC_WRITE)) &&
           SUCCEEDED(imaging->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())) &&
           SUCCEEDED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)) &&
           SUCCEEDED(encoder->CreateNewFrame(frame.put(), nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
           SUCCEEDED(frame->WriteSource(bitmap.get(), nullptr)) && SUCCEEDED(frame->Commit()) &&
           SUCCEEDED(encoder->Commit());
}

// Pumps the window's messages until the pixel at the canvas point has the colour.
bool AwaitColour(HWND window, CanvasPoint point, std::uint32_t colour) {
    for (const ULONGLONG deadline = ::GetTickCount64() + 10000; ::GetTickCount64() < deadline; ::Sleep(50)) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        if (ScreenColour(window, point) == colour) return true;
    }
    return false;
}

TEST(Palette, TheWindowFollowsHighContrastWithoutARestart) {
    test::ResetAppState();
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    CreateGraphicsFactories();
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    RegisterMainWindowClass(instance);
    HWND window = CreateMainWindow(instance);
    ::ShowWindow(window, SW_SHOW);
    ::SetForegroundWindow(window);
    const CanvasPoint background{30, 400}, header{600, 40};

    ASSERT_TRUE(AwaitColour(window, background, kBrandPalette.background));
    UseColourScheme({HighContrastSwitch, WhiteScheme});
    highContrast = true;
    ::SendMessageW(window, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    EXPECT_TRUE(AwaitColour(window, background, 0xFFFFFF));
    EXPECT_EQ(ScreenColour(window, header), 0xFFFFFFu) << "no header gradient";
    EXPECT_TRUE(SaveScreenshot(window, L"high-contrast.png"));

    highContrast = false;
    ::SendMessageW(window, WM_THEMECHANGED, 0, 0);
    EXPECT_TRUE(AwaitColour(window, background, kBrandPalette.background));

    UseColourScheme(WindowsColourScheme());
    ::DestroyWindow(window);
    for (MSG quit; ::PeekMessageW(&quit, nullptr, 0, 0, PM_REMOVE);) {
    }
    ::UnregisterClassW(kMainWindowClass, instance);
    ReleaseGraphicsObjects();
    ::CoUninitialize();
    test::ResetAppState();
}

}  // namespace
}  // namespace orivanta
