#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/Handles.h"
#include "common/Utf.h"
#include "ui/GdiRenderer.h"
#include "ui/SceneModel.h"

namespace orivanta {
namespace {

const GdiText* FindText(const std::vector<GdiElement>& layout, const RECT& rect) {
    for (const GdiElement& element : layout) {
        const auto* text = std::get_if<GdiText>(&element);
        if (text != nullptr && EqualRect(&text->rect, &rect)) return text;
    }
    return nullptr;
}

bool HasText(const std::vector<GdiElement>& layout, const std::wstring& wanted) {
    for (const GdiElement& element : layout) {
        const auto* text = std::get_if<GdiText>(&element);
        if (text != nullptr && text->text == wanted) return true;
    }
    return false;
}

std::vector<GdiFill> FillsWithTop(const std::vector<GdiElement>& layout, LONG top) {
    std::vector<GdiFill> fills;
    for (const GdiElement& element : layout) {
        const auto* fill = std::get_if<GdiFill>(&element);
        if (fill != nullptr && fill->rect.top == top) fills.push_back(*fill);
    }
    return fills;
}

const GdiOutline* OutlineAt(const std::vector<GdiElement>& layout, LONG left) {
    for (const GdiElement& element : layout) {
        const auto* outline = std::get_if<GdiOutline>(&element);
        if (outline != nullptr && outline->rect.left == left) return outline;
    }
    return nullptr;
}

int RegionAt(GdiCanvasPoint point) {
    return static_cast<int>(GdiHitRegionAt(point));
}

constexpr RECT kLanLine{44, 155, 779, 180};
constexpr RECT kButton{574, 444, 754, 486};
constexpr RECT kServerRadio{58, 202, 86, 230};
constexpr RECT kClientRadio{434, 202, 462, 230};
constexpr RECT kClientHostLine{470, 263, 756, 284};
constexpr RECT kAmounts{66, 424, 311, 448};
constexpr RECT kSpeed{328, 424, 478, 448};
constexpr RECT kSaveLine{66, 458, 531, 482};
constexpr RECT kPercent{655, 337, 745, 382};

TEST(GdiLayout, FreshStateShowsCheckingGreyButtonAndEmptyProgress) {
    const auto layout = BuildGdiLayout(DisplaySnapshot{}, false);

    const GdiText* lan = FindText(layout, kLanLine);
    ASSERT_NE(lan, nullptr);
    EXPECT_EQ(lan->text, L"正在检查局域网内可访问的欧瑞凡达主机…");
    EXPECT_EQ(lan->color, 0x5C6B7Eu);
    EXPECT_EQ(lan->font, GdiFont::Small);

    EXPECT_EQ(FindText(layout, kServerRadio)->text, L"○");
    EXPECT_EQ(FindText(layout, kClientRadio)->text, L"○");
    EXPECT_FALSE(HasText(layout, L"推荐"));
    EXPECT_EQ(FindText(layout, kPercent)->text, L"0%");
    EXPECT_EQ(FindText(layout, kAmounts)->text, L"0.0 MB / 0.0 MB");
    EXPECT_EQ(FindText(layout, kSpeed)->text, L"");
    EXPECT_EQ(FindText(layout, kSaveLine)->text, L"保存位置将在下载前自动选择");
    EXPECT_EQ(FindText(layout, kButton)->text, L"请选择版本") << "the Direct2D scene's label";

    const auto buttonFills = FillsWithTop(layout, kButton.top);
    ASSERT_EQ(buttonFills.size(), 1u);
    EXPECT_EQ(buttonFills[0].color, 0xA9B7C6u);
    // Only the track: no fill without progress.
    EXPECT_EQ(FillsWithTop(layout, 405).size(), 1u);
    EXPECT_EQ(OutlineAt(layout, 42)->width, 1);
    EXPECT_EQ(OutlineAt(layout, 418)->color, 0xD5DFEAu);
}

TEST(GdiLayout, HostFoundWithClientChosenHighlightsClientCardOnly) {
    DisplaySnapshot snapshot;
    snapshot.lanState = LanState::HostFound;
    snapshot.lanHostText = L"192.168.8.20";
    snapshot.edition = Edition::Client;
    const auto layout = BuildGdiLayout(snapshot, false);

    const GdiText* lan = FindText(layout, kLanLine);
    EXPECT_EQ(lan->text, L"已发现欧瑞凡达主机  192.168.8.20:9009");
    EXPECT_EQ(lan->color, 0x0879BFu);
    EXPECT_EQ(lan->font, GdiFont::Medium);

    const GdiText* host = FindText(layout, kClientHostLine);
    EXPECT_EQ(host->text, L"已发现主机：192.168.8.20:9009");
    EXPECT_EQ(host->font, GdiFont::Medium);
    EXPECT_EQ(host->color, 0x0879BFu);
    EXPECT_EQ(FindText(layout, {470, 283, 756, 304})->text, L"该电脑可以直接安装仅客户端版。");
    EXPECT_TRUE(HasText(layout, L"推荐"));

    EXPECT_EQ(OutlineAt(layout, 418)->color, 0x0A7FC3u);
    EXPECT_EQ(OutlineAt(layout, 418)->width, 2);
    EXPECT_EQ(FindText(layout, kClientRadio)->text, L"●");
    EXPECT_EQ(FindText(layout, kClientRadio)->color, 0x0A7FC3u);
    // The server card is not greyed in this layout.
    EXPECT_EQ(OutlineAt(layout, 42)->color, 0xD5DFEAu);
    EXPECT_EQ(FindText(layout, {94, 200, 244, 231})->color, 0x142033u);
    EXPECT_EQ(FindText(layout, kButton)->text, L"下载并安装");
}

TEST(GdiLayout, NoHostFoundUsesTheSearchResultWording) {
    DisplaySnapshot snapshot;
    snapshot.lanState = LanState::NoHost;
    snapshot.edition = Edition::Server;
    const auto layout = BuildGdiLayout(snapshot, false);
    EXPECT_EQ(FindText(layout, kLanLine)->text, L"局域网内暂未发现可访问的 9009 服务，请按本机用途选择版本");
    EXPECT_EQ(FindText(layout, kClientHostLine)->text, L"本机不保存服务端数据，需要连接门诊内");
    EXPECT_EQ(FindText(layout, kServerRadio)->text, L"●");
    EXPECT_EQ(OutlineAt(layout, 42)->width, 2);
    EXPECT_EQ(FillsWithTop(layout, kButton.top)[0].color, 0x0A7FC3u);
}

TEST(GdiLayout, ProgressFillEndsWhereThePercentSays) {
    DisplaySnapshot snapshot;
    snapshot.edition = Edition::Client;
    for (const auto& [percent, right] : {std::pair{50, 410}, {100, 754}, {1, 72}, {130, 754}}) {
        snapshot.progressPercent = percent;
        const auto fills = FillsWithTop(BuildGdiLayout(snapshot, false), 405);
        ASSERT_EQ(fills.size(), 2u) << percent;
        EXPECT_EQ(fills[0].rect.right, 754) << "track";
        EXPECT_EQ(fills[1].rect.left, 66);
        EXPECT_EQ(fills[1].rect.right, right) << percent;
        EXPECT_EQ(fills[1].color, 0x0A7FC3u);
    }
}

TEST(GdiLayout, ButtonLabelFollowsEditionBusyAndProgress) {
    DisplaySnapshot snapshot;
    EXPECT_EQ(FindText(BuildGdiLayout(snapshot, false), kButton)->text, L"请选择版本");
    EXPECT_EQ(FindText(BuildGdiLayout(snapshot, true), kButton)->text, L"暂停下载")
        << "a running download can be paused whatever the edition reads";
    snapshot.edition = Edition::Server;
    EXPECT_EQ(FindText(BuildGdiLayout(snapshot, false), kButton)->text, L"下载并安装");
    EXPECT_EQ(FindText(BuildGdiLayout(snapshot, true), kButton)->text, L"暂停下载");
    snapshot.progressPercent = 37;
    EXPECT_EQ(FindText(BuildGdiLayout(snapshot, false), kButton)->text, L"继续下载");
    EXPECT_EQ(FindText(BuildGdiLayout(snapshot, true), kButton)->text, L"暂停下载");
}

TEST(GdiLayout, ButtonSaysWhatTheDirect2DButtonSaysInEveryState) {
    const SceneRect sceneButton = RegionRect(HitRegion::MainButton);
    for (Edition edition : {Edition::None, Edition::Server, Edition::Client}) {
        for (bool busy : {false, true}) {
            for (int percent : {0, 37}) {
                SceneInput input;
                input.snapshot.edition = edition;
                input.snapshot.progressPercent = percent;
                input.busy = busy;
                std::wstring sceneLabel;
                std::uint32_t sceneFill = 0;
                for (const SceneItem& item : BuildScene(input)) {
                    if (const auto* label = std::get_if<LabelItem>(&item); label && label->rect == sceneButton) {
                        sceneLabel = label->text;
                    }
                    if (const auto* fill = std::get_if<FillRoundItem>(&item); fill && fill->rect == sceneButton) {
                        sceneFill = fill->color;
                    }
                }
                const auto layout = BuildGdiLayout(input.snapshot, busy);
                const std::string state = std::to_string(static_cast<int>(edition)) + (busy ? " busy " : " idle ") +
                                          std::to_string(percent);
                EXPECT_EQ(FindText(layout, kButton)->text, sceneLabel) << state;
                const bool sceneGrey = sceneFill == 0xA9B7C6u;
                EXPECT_EQ(FillsWithTop(layout, kButton.top)[0].color == 0xA9B7C6u, sceneGrey) << state;
            }
        }
    }
}

TEST(GdiLayout, PanelShowsTextsAmountsSpeedAndSaveFolder) {
    DisplaySnapshot snapshot;
    snapshot.edition = Edition::Client;
    snapshot.statusText = L"正在安全下载";
    snapshot.detailText = L"OrivantaClient-5.2.exe";
    snapshot.progressPercent = 25;
    snapshot.bytesDone = 52428800;
    snapshot.bytesTotal = 209715200;
    snapshot.speedBytesPerSecond = 1572864.9;
    snapshot.saveLocationText = L"D:\\欧瑞凡达安装包";
    const auto layout = BuildGdiLayout(snapshot, true);
    EXPECT_EQ(FindText(layout, {66, 340, 596, 369})->text, L"OrivantaClient-5.2.exe");
    EXPECT_EQ(FindText(layout, {66, 371, 426, 396})->text, L"正在安全下载");
    EXPECT_EQ(FindText(layout, kPercent)->text, L"25%");
    EXPECT_EQ(FindText(layout, kAmounts)->text, L"50.0 MB / 200.0 MB");
    EXPECT_EQ(FindText(layout, kSpeed)->text, L"1.5 MB/s");
    EXPECT_EQ(FindText(layout, kSpeed)->align, GdiAlign::Centre);
    EXPECT_EQ(FindText(layout, kSaveLine)->text, L"保存到：D:\\欧瑞凡达安装包");
    EXPECT_TRUE(HasText(layout, L"客服电话  400-100-200"));
}

TEST(GdiHitTesting, CardsAndButtonAsDrawnWithInclusiveEdges) {
    EXPECT_EQ(RegionAt({42, 188}), 1);
    EXPECT_EQ(RegionAt({402, 309}), 1);
    EXPECT_EQ(RegionAt({410, 250}), 0) << "gap between the cards";
    EXPECT_EQ(RegionAt({418, 188}), 2);
    EXPECT_EQ(RegionAt({778, 309}), 2);
    EXPECT_EQ(RegionAt({600, 310}), 0);
    EXPECT_EQ(RegionAt({574, 444}), 3);
    EXPECT_EQ(RegionAt({754, 486}), 3);
    EXPECT_EQ(RegionAt({755, 470}), 0);
    // Nothing is drawn where the Direct2D layout has its minimise and close buttons.
    EXPECT_EQ(RegionAt({770, 30}), 0);
    EXPECT_EQ(RegionAt({800, 20}), 0);
}

TEST(GdiHitTesting, ClientPixelsScaleToTheCanvasOnEachAxis) {
    const GdiCanvasPoint point = GdiCanvasPointFromClient(1640, 320, 1640, 1280);
    EXPECT_FLOAT_EQ(point.x, 820.0f);
    EXPECT_FLOAT_EQ(point.y, 160.0f);
    // The Direct2D layout's server card at this pixel would be None here, and the reverse.
    EXPECT_EQ(RegionAt(GdiCanvasPointFromClient(100, 300, 1120, 710)), 1);
    EXPECT_EQ(RegionAt(GdiCanvasPointFromClient(1000, 450, 1120, 710)), 0);
    const GdiCanvasPoint minimised = GdiCanvasPointFromClient(30, 40, 0, 0);
    EXPECT_EQ(minimised.x, 0.0f);
    EXPECT_EQ(minimised.y, 0.0f);
}

// A 32-bit top-down DIB section in a memory DC, as a window's paint DC would receive the frame.
class PixelSurface {
public:
    PixelSurface(int width, int height) : width_(width), height_(height), dc_(::CreateCompatibleDC(nullptr)) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap_.reset(::CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0));
        previous_ = ::SelectObject(dc_.get(), bitmap_.get());
    }
    ~PixelSurface() { ::SelectObject(dc_.get(), previous_); }

    HDC dc() const { return dc_.get(); }
    // 0xRRGGBB of a pixel.
    std::uint32_t At(int x, int y) const {
        ::GdiFlush();
        return bits_[y * width_ + x] & 0xFFFFFF;
    }
    // The pixel under a canvas point.
    std::uint32_t AtCanvas(int x, int y) const {
        return At(x * width_ / kGdiCanvasWidth, y * height_ / kGdiCanvasHeight);
    }

private:
    int width_;
    int height_;
    UniqueMemoryDc dc_;
    UniqueGdiObject bitmap_;
    HGDIOBJ previous_ = nullptr;
    std::uint32_t* bits_ = nullptr;
};

TEST(GdiFrame, FillsTheWholeClientAreaAtAnySize) {
    DisplaySnapshot snapshot;
    snapshot.edition = Edition::Server;
    snapshot.progressPercent = 50;
    const auto layout = BuildGdiLayout(snapshot, false);
    for (const auto& [width, height] : {std::pair{1640, 1280}, {1000, 500}, {820, 640}}) {
        PixelSurface surface(width, height);
        DrawGdiFrame(surface.dc(), width, height, layout, nullptr);
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        EXPECT_EQ(surface.At(width - 2, height - 2), 0xF8FAFCu) << "background reaches the bottom-right corner";
        EXPECT_EQ(surface.At(width - 2, 2), 0xFFFFFFu) << "header band spans the width";
        EXPECT_EQ(surface.AtCanvas(580, 450), 0x0A7FC3u) << "button, beside its label";
        EXPECT_EQ(surface.AtCanvas(200, 411), 0x0A7FC3u) << "progress fill";
        EXPECT_EQ(surface.AtCanvas(600, 411), 0xE5ECF3u) << "track beyond 50 %";
        EXPECT_EQ(surface.AtCanvas(390, 250), 0xFFFFFFu) << "server card, beside its texts";
        EXPECT_EQ(surface.AtCanvas(410, 250), 0xF8FAFCu) << "gap between the cards";
    }
}

TEST(GdiFrame, SelectedCardHasTheBlueOutline) {
    DisplaySnapshot snapshot;
    snapshot.edition = Edition::Client;
    PixelSurface surface(820, 640);
    DrawGdiFrame(surface.dc(), 820, 640, BuildGdiLayout(snapshot, false), nullptr);
    EXPECT_EQ(surface.At(418, 250), 0x0A7FC3u);
    EXPECT_EQ(surface.At(42, 250), 0xD5DFEAu);
}

int CountDarkPixels(const PixelSurface& surface, int left, int top, int right, int bottom) {
    int dark = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            if (surface.At(x, y) == 0) ++dark;
        }
    }
    return dark;
}

TEST(GdiFrame, StretchesTheProgramsQrBitmapIntoItsCorner) {
    const char* exe = std::getenv("ORIVANTA_EXE");
    if (exe == nullptr) GTEST_SKIP() << "ORIVANTA_EXE is not set";
    const std::wstring path = L"Z:" + Utf8ToUtf16(exe);
    HMODULE program = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr);

    const auto layout = BuildGdiLayout(DisplaySnapshot{}, false);
    PixelSurface withQr(820, 640);
    DrawGdiFrame(withQr.dc(), 820, 640, layout, program);
    PixelSurface withoutQr(820, 640);
    DrawGdiFrame(withoutQr.dc(), 820, 640, layout, ::GetModuleHandleW(nullptr));
    ::FreeLibrary(program);

    const int dark = CountDarkPixels(withQr, 637, 549, 723, 635);
    EXPECT_GT(dark, 86 * 86 / 8);
    EXPECT_LT(dark, 86 * 86 * 4 / 5);
    EXPECT_EQ(withQr.At(640, 552), 0xFFFFFFu) << "quiet zone";
    EXPECT_EQ(CountDarkPixels(withQr, 723, 549, 819, 635), 0) << "nothing outside the 86 x 86 square";
    EXPECT_EQ(CountDarkPixels(withoutQr, 637, 549, 723, 635), 0) << "no bitmap, no image";
}

}  // namespace
}  // namespace orivanta
