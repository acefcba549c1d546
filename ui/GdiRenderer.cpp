#include "ui/GdiRenderer.h"

#include <windowsx.h>

#include <algorithm>
#include <cwchar>

#include "common/Handles.h"
#include "common/SupportHotline.h"
#include "state/Edition.h"
#include "ui/MainButton.h"
#include "ui/ResourceIds.h"

namespace orivanta {
namespace {

constexpr RECT kServerCard{42, 188, 402, 309};
constexpr RECT kClientCard{418, 188, 778, 309};
constexpr RECT kMainButton{574, 444, 754, 486};
constexpr int kTrackLeft = 66;
constexpr int kTrackWidth = 688;

// Bytes in MB with one decimal, as the Direct2D panel shows them.
std::wstring Megabytes(std::int64_t bytes) {
    wchar_t text[64];
    std::swprintf(text, sizeof text / sizeof text[0], L"%.1f", static_cast<double>(bytes) * (1.0 / 1048576.0));
    return text;
}

class LayoutBuilder {
public:
    void Fill(RECT rect, std::uint32_t color) { elements_.push_back(GdiFill{rect, color}); }
    void Outline(RECT rect, std::uint32_t color, int width) { elements_.push_back(GdiOutline{rect, color, width}); }
    void Text(std::wstring text, RECT rect, std::uint32_t color, GdiFont font, GdiAlign align = GdiAlign::Left) {
        elements_.push_back(GdiText{std::move(text), rect, color, font, align});
    }
    void Qr(RECT rect) { elements_.push_back(GdiQrImage{rect}); }
    std::vector<GdiElement> Take() { return std::move(elements_); }

private:
    std::vector<GdiElement> elements_;
};

void AddHeader(LayoutBuilder& b, const DisplaySnapshot& s, const Palette& p) {
    const bool found = s.lanState == LanState::HostFound;
    b.Fill({0, 0, kGdiCanvasWidth, kGdiCanvasHeight}, p.background);
    b.Fill({0, 0, 820, 74}, p.surface);
    b.Text(L"Orivanta", {34, 14, 189, 48}, p.accent, GdiFont::Large);
    b.Text(L"欧瑞凡达", {173, 17, 323, 47}, p.accent, GdiFont::Medium);
    b.Text(L"安全下载 · 官方最新版", {550, 20, 780, 48}, p.link, GdiFont::Small, GdiAlign::Right);
    b.Text(L"欧瑞凡达安装助手", {42, 86, 542, 132}, p.title, GdiFont::Title);
    b.Text(L"选择适合您的版本，下载完成并校验后由您确认安装", {44, 128, 644, 155}, p.secondaryText, GdiFont::Small);
    const RECT lanLine{44, 155, 779, 180};
    if (found) {
        b.Text(L"已发现欧瑞凡达主机  " + s.lanHostText + L":9009", lanLine, p.link, GdiFont::Medium);
    } else if (s.lanState == LanState::Checking) {
        b.Text(L"正在检查局域网内可访问的欧瑞凡达主机…", lanLine, p.secondaryText, GdiFont::Small);
    } else {
        b.Text(L"局域网内暂未发现可访问的 9009 服务，请按本机用途选择版本", lanLine, p.secondaryText, GdiFont::Small);
    }
}

void AddCards(LayoutBuilder& b, const DisplaySnapshot& s, const Palette& p) {
    const bool found = s.lanState == LanState::HostFound;
    const bool serverSelected = s.edition == Edition::Server;
    const bool clientSelected = s.edition == Edition::Client;
    b.Fill(kServerCard, p.surface);
    b.Fill(kClientCard, p.surface);
    b.Outline(kServerCard, serverSelected ? p.accent : p.cardBorder, serverSelected ? 2 : 1);
    b.Outline(kClientCard, clientSelected ? p.accent : p.cardBorder, clientSelected ? 2 : 1);

    b.Text(serverSelected ? L"●" : L"○", {58, 202, 86, 230}, serverSelected ? p.accent : p.radio, GdiFont::Large);
    b.Text(L"服务端版", {94, 200, 244, 231}, p.text, GdiFont::Medium);
    b.Text(L"适合门诊主机 / 数据服务器", {94, 237, 364, 261}, p.text, GdiFont::Medium);
    b.Text(L"本机保存门诊数据，并向其他工作站提供", {94, 263, 369, 284}, p.secondaryText, GdiFont::Small);
    b.Text(L"9009 服务；首次部署主机请选择此版本。", {94, 283, 369, 304}, p.secondaryText, GdiFont::Small);

    b.Text(clientSelected ? L"●" : L"○", {434, 202, 462, 230}, clientSelected ? p.accent : p.radio, GdiFont::Large);
    b.Text(L"仅客户端版", {470, 200, 640, 231}, p.text, GdiFont::Medium);
    if (found) b.Text(L"推荐", {676, 202, 731, 228}, p.accent, GdiFont::Medium);
    b.Text(L"适合前台 / 诊室 / 其他工作站", {470, 237, 740, 261}, p.text, GdiFont::Medium);
    if (found) {
        b.Text(L"已发现主机：" + s.lanHostText + L":9009", {470, 263, 756, 284}, p.link, GdiFont::Medium);
        b.Text(L"该电脑可以直接安装仅客户端版。", {470, 283, 756, 304}, p.secondaryText, GdiFont::Small);
    } else {
        b.Text(L"本机不保存服务端数据，需要连接门诊内", {470, 263, 756, 284}, p.secondaryText, GdiFont::Small);
        b.Text(L"已经安装并开放 9009 端口的服务端。", {470, 283, 756, 304}, p.secondaryText, GdiFont::Small);
    }
}

void AddPanel(LayoutBuilder& b, const DisplaySnapshot& s, bool busy, const Palette& p) {
    const RECT panel{42, 326, 778, 502};
    b.Fill(panel, p.surface);
    b.Outline(panel, p.panelBorder, 1);
    b.Text(s.detailText, {66, 340, 596, 369}, p.text, GdiFont::Medium);
    b.Text(s.statusText, {66, 371, 426, 396}, p.accent, GdiFont::Small);
    b.Text(std::to_wstring(s.progressPercent) + L"%", {655, 337, 745, 382}, p.accent, GdiFont::Title, GdiAlign::Right);
    b.Fill({kTrackLeft, 405, kTrackLeft + kTrackWidth, 417}, p.track);
    if (s.progressPercent > 0) {
        // A percent above 100 would otherwise run the fill past the track.
        const int percent = std::min(s.progressPercent, 100);
        b.Fill({kTrackLeft, 405, kTrackLeft + (percent * kTrackWidth) / 100, 417}, p.accent);
    }
    b.Text(Megabytes(s.bytesDone) + L" MB / " + Megabytes(s.bytesTotal) + L" MB", {66, 424, 311, 448}, p.secondaryText,
           GdiFont::Small);
    std::wstring speed;
    if (s.speedBytesPerSecond > 0) speed = Megabytes(static_cast<std::int64_t>(s.speedBytesPerSecond)) + L" MB/s";
    b.Text(std::move(speed), {328, 424, 478, 448}, p.secondaryText, GdiFont::Small, GdiAlign::Centre);
    b.Text(s.saveLocationText.empty() ? L"保存位置将在下载前自动选择" : L"保存到：" + s.saveLocationText,
           {66, 458, 531, 482}, p.secondaryText, GdiFont::Small);

    const MainButtonMode mode = MainButtonModeFor(s.edition, busy, s.progressPercent);
    const bool enabled = MainButtonEnabled(mode);
    b.Fill(kMainButton, enabled ? p.accent : p.disabledButton);
    if (!enabled && !p.decorations) b.Outline(kMainButton, p.disabledButtonText, 1);
    b.Text(MainButtonLabel(mode), kMainButton, enabled ? p.buttonText : p.disabledButtonText, GdiFont::Medium,
           GdiAlign::Centre);
}

void AddHelp(LayoutBuilder& b, const Palette& p) {
    b.Text(L"需要帮助？", {44, 523, 194, 545}, p.secondaryText, GdiFont::Small);
    b.Text(L"客服电话  " + SupportHotlineText(), {44, 547, 344, 577}, p.title, GdiFont::Medium);
    b.Text(L"扫码联系欧瑞凡达客服", {584, 526, 774, 549}, p.secondaryText, GdiFont::Small, GdiAlign::Centre);
    b.Qr({637, 549, 637 + 86, 549 + 86});
}

COLORREF ToColorRef(std::uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// Created on first use and kept for the life of the process (UI thread only).
HFONT FontFor(GdiFont font) {
    struct FontShape {
        int height;
        int weight;
    };
    static const FontShape shapes[] = {{13, FW_NORMAL}, {17, FW_BOLD}, {24, FW_BOLD}, {27, FW_BOLD}};
    static HFONT fonts[4] = {};
    const int index = static_cast<int>(font);
    if (fonts[index] == nullptr) {
        fonts[index] = ::CreateFontW(-shapes[index].height, 0, 0, 0, shapes[index].weight, FALSE, FALSE, FALSE,
                                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                     DEFAULT_PITCH | FF_DONTCARE, L"Microsoft YaHei UI");
    }
    return fonts[index];
}

class ElementPainter {
public:
    ElementPainter(HDC dc, HMODULE module) : dc_(dc), module_(module) {}

    void operator()(const GdiFill& fill) const {
        UniqueGdiObject brush(::CreateSolidBrush(ToColorRef(fill.color)));
        ::FillRect(dc_, &fill.rect, static_cast<HBRUSH>(brush.get()));
    }

    void operator()(const GdiOutline& outline) const {
        UniqueGdiObject pen(::CreatePen(PS_SOLID, outline.width, ToColorRef(outline.color)));
        ScopedSelectObject selectPen(dc_, pen.get());
        ScopedSelectObject selectBrush(dc_, ::GetStockObject(NULL_BRUSH));
        ::Rectangle(dc_, outline.rect.left, outline.rect.top, outline.rect.right, outline.rect.bottom);
    }

    void operator()(const GdiText& text) const {
        ScopedSelectObject selectFont(dc_, FontFor(text.font));
        ::SetBkMode(dc_, TRANSPARENT);
        ::SetTextColor(dc_, ToColorRef(text.color));
        UINT format = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX;
        if (text.align == GdiAlign::Centre) format |= DT_CENTER;
        if (text.align == GdiAlign::Right) format |= DT_RIGHT;
        RECT rect = text.rect;
        ::DrawTextW(dc_, text.text.c_str(), static_cast<int>(text.text.size()), &rect, format);
    }

    void operator()(const GdiQrImage& image) const {
        UniqueGdiObject bitmap(::LoadBitmapW(module_, MAKEINTRESOURCEW(kQrBitmapResourceId)));
        if (!bitmap) return;
        BITMAP info{};
        if (::GetObjectW(bitmap.get(), sizeof info, &info) == 0) return;
        UniqueMemoryDc source(::CreateCompatibleDC(dc_));
        if (!source) return;
        ScopedSelectObject selectBitmap(source.get(), bitmap.get());
        ::SetStretchBltMode(dc_, COLORONCOLOR);
        ::StretchBlt(dc_, image.rect.left, image.rect.top, image.rect.right - image.rect.left,
                     image.rect.bottom - image.rect.top, source.get(), 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    }

private:
    HDC dc_;
    HMODULE module_;
};

}  // namespace

std::vector<GdiElement> BuildGdiLayout(const DisplaySnapshot& snapshot, bool busy, const Palette& palette) {
    LayoutBuilder builder;
    AddHeader(builder, snapshot, palette);
    AddCards(builder, snapshot, palette);
    AddPanel(builder, snapshot, busy, palette);
    AddHelp(builder, palette);
    return builder.Take();
}

void DrawGdiFrame(HDC target, int width, int height, const std::vector<GdiElement>& layout, HMODULE module) {
    if (width <= 0 || height <= 0) return;
    UniqueMemoryDc memory(::CreateCompatibleDC(target));
    UniqueGdiObject bitmap(::CreateCompatibleBitmap(target, width, height));
    if (!memory || !bitmap) return;
    {
        ScopedSelectObject selectBitmap(memory.get(), bitmap.get());
        ::SetMapMode(memory.get(), MM_ANISOTROPIC);
        ::SetWindowExtEx(memory.get(), kGdiCanvasWidth, kGdiCanvasHeight, nullptr);
        ::SetViewportExtEx(memory.get(), width, height, nullptr);
        const ElementPainter painter(memory.get(), module);
        for (const GdiElement& element : layout) std::visit(painter, element);
        // The copy must read device pixels one to one: with the canvas mapping
        // still in place BitBlt would squeeze the frame into the top-left corner.
        ::SetMapMode(memory.get(), MM_TEXT);
        ::BitBlt(target, 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
    }
}

void RenderGdiFrame(HWND window) {
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(window, &paint);
    RECT client{};
    ::GetClientRect(window, &client);
    const DisplaySnapshot snapshot = ReadDisplaySnapshot();
    const bool busy = App().busy.load();
    if (dc != nullptr) {
        DrawGdiFrame(dc, client.right - client.left, client.bottom - client.top, BuildGdiLayout(snapshot, busy, CurrentPalette()),
                     ::GetModuleHandleW(nullptr));
    }
    ::EndPaint(window, &paint);
}

GdiCanvasPoint GdiCanvasPointFromClient(int x, int y, int clientWidth, int clientHeight) {
    GdiCanvasPoint point;
    if (clientWidth > 0) point.x = static_cast<float>(x) * kGdiCanvasWidth / static_cast<float>(clientWidth);
    if (clientHeight > 0) point.y = static_cast<float>(y) * kGdiCanvasHeight / static_cast<float>(clientHeight);
    return point;
}

HitRegion GdiHitRegionAt(GdiCanvasPoint point) {
    const auto inside = [&point](const RECT& r) {
        return point.x >= r.left && point.x <= r.right && point.y >= r.top && point.y <= r.bottom;
    };
    if (inside(kServerCard)) return HitRegion::ServerCard;
    if (inside(kClientCard)) return HitRegion::ClientCard;
    if (inside(kMainButton)) return HitRegion::MainButton;
    return HitRegion::None;
}

HitRegion GdiHitTest(HWND window, LPARAM packedPoint) {
    RECT client{};
    ::GetClientRect(window, &client);
    return GdiHitRegionAt(GdiCanvasPointFromClient(GET_X_LPARAM(packedPoint), GET_Y_LPARAM(packedPoint),
                                                   client.right - client.left, client.bottom - client.top));
}

}  // namespace orivanta
