#include <gtest/gtest.h>

#include <objbase.h>
#include <wincodec.h>

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
    const std::pair<int, std::vector<Role>> expected[] = {
        {COLOR_WINDOW,
         {&Palette::background, &Palette::surface, &Palette::selectedSurface, &Palette::headerStart, &Palette::headerEnd,
          &Palette::foundBadge, &Palette::idleBadge, &Palette::lanBackdrop, &Palette::foundBackdrop,
          &Palette::warningBackdrop, &Palette::recommendBackdrop, &Palette::shadow}},
        {COLOR_WINDOWTEXT,
         {&Palette::headerText, &Palette::headerMutedText, &Palette::headerRule, &Palette::captionGlyph, &Palette::title,
          &Palette::text, &Palette::secondaryText, &Palette::mutedText, &Palette::warning, &Palette::focusRing,
          &Palette::cardBorder, &Palette::panelBorder, &Palette::lanBorder, &Palette::foundBorder, &Palette::radio,
          &Palette::icon, &Palette::folderIcon, &Palette::badgeMark}},
        {COLOR_HIGHLIGHT, {&Palette::captionHover, &Palette::closeHover, &Palette::accent}},
        {COLOR_HIGHLIGHTTEXT, {&Palette::closeGlyphHovered, &Palette::minimiseGlyphHovered, &Palette::buttonText}},
        {COLOR_BTNFACE, {&Palette::track, &Palette::disabledButton}},
        {COLOR_GRAYTEXT,
         {&Palette::separator, &Palette::blockedText, &Palette::blockedDetail, &Palette::blockedIcon,
          &Palette::blockedBorder, &Palette::disabledButtonText}},
        {COLOR_HOTLIGHT, {&Palette::link, &Palette::hoverOutline, &Palette::buttonHover}},
    };
    UseColourScheme({HighContrastSwitch, IndexedColour});
    highContrast = false;
    RefreshPalette();
    EXPECT_EQ(CurrentPalette(), kBrandPalette);

    highContrast = true;
    RefreshPalette();
    const Palette& contrast = CurrentPalette();
    std::size_t roles = 0;
    for (const auto& [systemColour, members] : expected) {
        for (Role role : members) EXPECT_EQ(contrast.*role, IndexedColour(systemColour)) << systemColour;
        roles += members.size();
    }
    EXPECT_EQ(roles * sizeof(std::uint32_t), offsetof(Palette, decorations)) << "a role left out of the table";
    EXPECT_FALSE(contrast.decorations);

    // No gradient, shadow or translucency; the disabled button keeps an outline in both layouts.
    SceneInput input;
    input.palette = contrast;
    for (const SceneItem& item : BuildScene(input)) {
        EXPECT_FALSE(std::holds_alternative<HeaderBandItem>(item));
        const auto* fill = std::get_if<FillRoundItem>(&item);
        EXPECT_TRUE(fill == nullptr || fill->opacity == 1.0f);
    }
    const SceneRect button = RegionRect(HitRegion::MainButton);
    bool outlined = false;
    for (const SceneItem& item : BuildScene(input)) {
        const auto* stroke = std::get_if<StrokeRoundItem>(&item);
        outlined = outlined || (stroke != nullptr && stroke->rect == button &&
                                stroke->color == IndexedColour(COLOR_GRAYTEXT));
    }
    EXPECT_TRUE(outlined);
    outlined = false;
    for (const GdiElement& element : BuildGdiLayout(input.snapshot, false, contrast)) {
        const auto* outline = std::get_if<GdiOutline>(&element);
        outlined = outlined || (outline != nullptr && outline->rect.left == 574 &&
                                outline->color == IndexedColour(COLOR_GRAYTEXT));
    }
    EXPECT_TRUE(outlined);
    UseColourScheme(WindowsColourScheme());
}

// High-contrast white: every system colour far from the brand's.
std::uint32_t WhiteScheme(int index) {
    switch (index) {
    case COLOR_WINDOW:
    case COLOR_BTNFACE:
        return 0xFFFFFF;
    case COLOR_HIGHLIGHT:
        return 0x37006E;
    case COLOR_HIGHLIGHTTEXT:
        return 0xFFFFFF;
    case COLOR_GRAYTEXT:
        return 0x600000;
    case COLOR_HOTLIGHT:
        return 0x00009F;
    default:
        return 0x000000;
    }
}

std::wstring ScreenshotPath(const wchar_t* name) {
    const char* exe = std::getenv("ORIVANTA_EXE");
    if (exe == nullptr) return {};
    std::wstring folder = L"Z:" + Utf8ToUtf16(exe);
    for (wchar_t& c : folder) {
        if (c == L'/') c = L'\\';
    }
    folder = folder.substr(0, folder.find_last_of(L'\\')) + L"\\screenshots";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\" + name;
}

// The window's pixels as they are on the screen, 0xRRGGBB, rows top to bottom.
struct ScreenPixels {
    int width = 0, height = 0;
    std::vector<std::uint32_t> bgrx;
    std::uint32_t At(float canvasX, float canvasY) const {
        const int x = static_cast<int>(canvasX * width / kCanvasWidth);
        const int y = static_cast<int>(canvasY * height / kCanvasHeight);
        return bgrx[static_cast<std::size_t>(y) * width + x] & 0xFFFFFF;
    }
};

ScreenPixels Capture(HWND window) {
    RECT r{};
    ::GetWindowRect(window, &r);
    ScreenPixels pixels{r.right - r.left, r.bottom - r.top, {}};
    pixels.bgrx.resize(static_cast<std::size_t>(pixels.width) * pixels.height);
    HDC screen = ::GetDC(nullptr);
    UniqueMemoryDc memory(::CreateCompatibleDC(screen));
    UniqueGdiObject bitmap(::CreateCompatibleBitmap(screen, pixels.width, pixels.height));
    {
        ScopedSelectObject select(memory.get(), bitmap.get());
        ::BitBlt(memory.get(), 0, 0, pixels.width, pixels.height, screen, r.left, r.top, SRCCOPY);
    }
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), pixels.width, -pixels.height, 1, 32, BI_RGB};
    ::GetDIBits(memory.get(), static_cast<HBITMAP>(bitmap.get()), 0, pixels.height, pixels.bgrx.data(), &info,
                DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, screen);
    return pixels;
}

void SavePng(const ScreenPixels& pixels, const std::wstring& path) {
    IWICImagingFactory* imaging = Graphics().imagingFactory.get();
    ComPtr<IWICBitmap> bitmap;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    ASSERT_TRUE(SUCCEEDED(imaging->CreateBitmapFromMemory(
        pixels.width, pixels.height, GUID_WICPixelFormat32bppBGR, pixels.width * 4,
        static_cast<UINT>(pixels.bgrx.size() * 4),
        reinterpret_cast<BYTE*>(const_cast<std::uint32_t*>(pixels.bgrx.data())), bitmap.put())));
    ASSERT_TRUE(SUCCEEDED(imaging->CreateStream(stream.put())));
    ASSERT_TRUE(SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)));
    ASSERT_TRUE(SUCCEEDED(imaging->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put())));
    ASSERT_TRUE(SUCCEEDED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)));
    ASSERT_TRUE(SUCCEEDED(encoder->CreateNewFrame(frame.put(), nullptr)));
    ASSERT_TRUE(SUCCEEDED(frame->Initialize(nullptr)));
    ASSERT_TRUE(SUCCEEDED(frame->WriteSource(bitmap.get(), nullptr)));
    ASSERT_TRUE(SUCCEEDED(frame->Commit()));
    ASSERT_TRUE(SUCCEEDED(encoder->Commit()));
}

// Pumps the window's messages until the pixel at the canvas point has the colour.
bool AwaitColour(HWND window, CanvasPoint point, std::uint32_t colour) {
    const ULONGLONG deadline = ::GetTickCount64() + 10000;
    while (::GetTickCount64() < deadline) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        if (Capture(window).At(point.x, point.y) == colour) return true;
        ::Sleep(50);
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
    EXPECT_EQ(Capture(window).At(header.x, header.y), 0xFFFFFFu) << "no header gradient";
    SavePng(Capture(window), ScreenshotPath(L"high-contrast.png"));

    highContrast = false;
    ::SendMessageW(window, WM_THEMECHANGED, 0, 0);
    EXPECT_TRUE(AwaitColour(window, background, kBrandPalette.background));

    UseColourScheme(WindowsColourScheme());
    ::DestroyWindow(window);
    MSG quit;
    while (::PeekMessageW(&quit, nullptr, 0, 0, PM_REMOVE)) {
    }
    ::UnregisterClassW(kMainWindowClass, instance);
    ReleaseGraphicsObjects();
    ::CoUninitialize();
    test::ResetAppState();
}

}  // namespace
}  // namespace orivanta
