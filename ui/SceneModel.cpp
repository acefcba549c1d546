#include "ui/SceneModel.h"

#include <cwchar>

#include "common/SupportHotline.h"
#include "lan/LanDiscovery.h"
#include "state/Edition.h"
#include "ui/MainButton.h"

namespace orivanta {
namespace {

// Shadows sit below and right of their shape; the focus ring surrounds the button.
constexpr SceneRect Shifted(SceneRect r, float dx, float dy) {
    return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}
constexpr SceneRect Grown(SceneRect r, float by) { return {r.left - by, r.top - by, r.right + by, r.bottom + by}; }

class SceneBuilder {
public:
    void FillRound(SceneRect rect, std::uint32_t color, float radius, float opacity = 1.0f) {
        items_.push_back(FillRoundItem{rect, color, radius, opacity});
    }
    void StrokeRound(SceneRect rect, std::uint32_t color, float radius, float strokeWidth, float opacity = 1.0f) {
        items_.push_back(StrokeRoundItem{rect, color, radius, strokeWidth, opacity});
    }
    void Line(std::uint32_t color, float x1, float y1, float x2, float y2, float width) {
        items_.push_back(LineItem{color, x1, y1, x2, y2, width});
    }
    void Label(std::wstring text, std::uint32_t color, float size, SceneRect rect, int weight,
               TextAlign align = TextAlign::Leading) {
        items_.push_back(LabelItem{std::move(text), color, size, rect, weight, align});
    }
    void Add(SceneItem item) { items_.push_back(std::move(item)); }

    void ServerRackIcon(float x, float y, std::uint32_t color) {
        for (float d : {0.0f, 15.0f, 30.0f}) {
            StrokeRound({x, y + d, x + 54, y + d + 11}, color, 3, 1.7f);
            FillRound({x + 8, y + d + 4, x + 11, y + d + 7}, color, 1.5f);
            Line(color, x + 36, y + d + 5.5f, x + 46, y + d + 5.5f, 1.5f);
        }
    }
    void MonitorIcon(float x, float y, std::uint32_t color) {
        StrokeRound({x, y, x + 62, y + 42}, color, 4, 2);
        Line(color, x + 31, y + 42, x + 31, y + 54, 2);
        Line(color, x + 19, y + 54, x + 43, y + 54, 2);
    }
    void FolderIcon(float x, float y, std::uint32_t color) {
        StrokeRound({x, y + 5, x + 25, y + 23}, color, 3, 1.7f);
        StrokeRound({x + 3, y, x + 12, y + 8}, color, 2, 1.7f);
    }

    std::vector<SceneItem> Take() { return std::move(items_); }

private:
    std::vector<SceneItem> items_;
};

struct Facts {
    const DisplaySnapshot& s;
    const Palette& p;
    bool busy;
    HitRegion hover;
    FocusItem focus;
    bool hostFound() const { return s.lanState == LanState::HostFound; }
    bool checking() const { return s.lanState == LanState::Checking; }
    bool hovered(HitRegion region) const { return hover == region; }
    // Translucency is a decoration: without decorations a fill is solid.
    float tint(float opacity) const { return p.decorations ? opacity : 1.0f; }
};

void AddHeader(SceneBuilder& b, const Facts& f) {
    const Palette& p = f.p;
    if (p.decorations) b.Add(HeaderBandItem{{0, 0, 1120, 66}, p.headerStart, p.headerEnd});
    if (p.decorations) {
        b.Add(LogoItem{{28, 14, 235, 51}, 1.0f, {0, 0, 361, 64}});
    } else {
        // The logo's white lettering is made for the dark band; in system colours it is set as text.
        b.Label(L"Orivanta  欧瑞凡达", p.headerText, 20, {28, 10, 250, 56}, 700);
    }
    b.Line(p.headerRule, 260, 14, 260, 52, 1);
    b.Label(L"安装助手", p.headerText, 20, LandmarkRect(Landmark::Title), 600);
    b.Label(L"客服热线  " + SupportHotlineText(), p.headerMutedText, 14, LandmarkRect(Landmark::Hotline), 600, TextAlign::Trailing);
    const bool minimiseHovered = f.hovered(HitRegion::Minimize);
    if (minimiseHovered) b.FillRound(RegionRect(HitRegion::Minimize), p.captionHover, 8, f.tint(0.08f));
    if (f.hovered(HitRegion::Close)) b.FillRound(RegionRect(HitRegion::Close), p.closeHover, 8, f.tint(0.86f));
    b.Line(minimiseHovered ? p.minimiseGlyphHovered : p.captionGlyph, 1027, 33, 1045, 33, 1.8f);
    const std::uint32_t closeGlyph = f.hovered(HitRegion::Close) ? p.closeGlyphHovered : p.captionGlyph;
    b.Line(closeGlyph, 1077, 23, 1095, 42, 2);
    b.Line(closeGlyph, 1095, 23, 1077, 42, 2);
}

void AddHeading(SceneBuilder& b, const Palette& p) {
    b.Label(L"选择这台电脑的安装方式", p.title, 32, LandmarkRect(Landmark::Heading), 700);
    b.Label(L"请选择适合这台电脑的用途，下载完成并校验后，将打开安装程序由您确认安装。", p.secondaryText, 15,
            LandmarkRect(Landmark::Subheading), 400);
}

void AddLanBox(SceneBuilder& b, const Facts& f) {
    const Palette& p = f.p;
    const bool found = f.hostFound();
    const SceneRect box = LandmarkRect(Landmark::LanBox);
    if (p.decorations) b.FillRound(box, found ? p.foundBackdrop : p.lanBackdrop, 11);
    b.StrokeRound(box, found ? p.foundBorder : p.lanBorder, 11, 1);
    const SceneRect badge{77, 229, 125, 277};
    if (p.decorations) b.FillRound(badge, found ? p.foundBadge : p.idleBadge, 24);
    if (found) {
        b.Line(p.badgeMark, 90, 252, 101, 262, 3);
        b.Line(p.badgeMark, 101, 262, 115, 243, 3);
        b.Label(L"已发现门诊主机", p.text, 16, {142, 218, 294, 249}, 600);
        b.Label(f.s.lanHostText + L":9009", p.link, 16, {294, 218, 470, 249}, 700);
        b.Label(L"这台电脑可以直接连接现有服务端", p.secondaryText, 13, {142, 249, 468, 278}, 400);
        return;
    }
    const bool checking = f.checking();
    b.Label(checking ? L"…" : L"i", p.accent, 17, badge, 700, TextAlign::Center);
    b.Label(checking ? L"正在检查局域网内的门诊主机" : L"局域网内暂未发现可连接主机", p.text, 15,
            LandmarkRect(Landmark::LanHeadline), 600);
    b.Label(checking ? L"检测期间您也可以先选择这台电脑的用途" : L"请根据这台电脑是否保存门诊数据选择版本",
            p.secondaryText, 12.5f, LandmarkRect(Landmark::LanDetail), 400);
}

void AddHelpCard(SceneBuilder& b, const Palette& p) {
    if (p.decorations) b.FillRound({685, 98, 1069, 290}, p.shadow, 12, 0.035f);
    const SceneRect card = LandmarkRect(Landmark::HelpCard);
    b.FillRound(card, p.surface, 12);
    b.StrokeRound(card, p.panelBorder, 12, 1);
    b.Label(L"安装遇到问题？", p.secondaryText, 14, LandmarkRect(Landmark::HelpHeadline), 400);
    b.Label(L"微信扫码联系\n欧瑞凡达客服", p.link, 18, {712, 148, 884, 211}, 700);
    b.Label(L"扫码后可由客服协助安装", p.mutedText, 12.5f, {712, 220, 884, 255}, 400);
    b.Add(QrItem{LandmarkRect(Landmark::QrImage), 1.0f});
}

void AddEditionCards(SceneBuilder& b, const Facts& f) {
    const Palette& p = f.p;
    const bool found = f.hostFound();
    const bool serverSelected = f.s.edition == Edition::Server;
    const bool clientSelected = f.s.edition == Edition::Client;
    const SceneRect serverRect = RegionRect(HitRegion::ServerCard);
    const SceneRect clientRect = RegionRect(HitRegion::ClientCard);

    if (p.decorations) {
        b.FillRound(Shifted(serverRect, 3, 5), p.shadow, 12, 0.055f);
        b.FillRound(Shifted(clientRect, 3, 5), p.shadow, 12, 0.055f);
    }
    b.FillRound(serverRect, found ? p.background : serverSelected ? p.selectedSurface : p.surface, 12);
    b.FillRound(clientRect, clientSelected ? p.selectedSurface : p.surface, 12);

    std::uint32_t serverBorder = found ? p.blockedBorder : p.cardBorder;
    if (!found && serverSelected) {
        serverBorder = p.accent;
    } else if (!found && f.hovered(HitRegion::ServerCard)) {
        serverBorder = p.hoverOutline;
    }
    b.StrokeRound(serverRect, serverBorder, 12, serverSelected ? 2.0f : 1.0f);
    if (clientSelected) {
        b.StrokeRound(clientRect, p.accent, 12, 2);
    } else {
        b.StrokeRound(clientRect, f.hovered(HitRegion::ClientCard) ? p.hoverOutline : p.cardBorder, 12, 1);
    }

    b.StrokeRound({76, 334, 98, 356}, serverSelected ? p.accent : p.radio, 11, 1.5f);
    if (serverSelected) b.FillRound({81, 339, 93, 351}, p.accent, 6);
    b.ServerRackIcon(112, 366, found ? p.blockedIcon : p.icon);
    b.Label(L"服务端版", found ? p.blockedText : p.title, 24, LandmarkRect(Landmark::ServerCardName), 700);
    if (found) {
        if (p.decorations) b.FillRound({420, 336, 516, 366}, p.warningBackdrop, 7);
        b.Label(L"需客服协助", p.warning, 11, {420, 336, 516, 366}, 700, TextAlign::Center);
    }
    b.Label(L"门诊主机 / 数据服务器", found ? p.blockedText : p.link, 15, {210, 391, 500, 423}, 600);
    b.Label(found ? L"局域网已存在门诊主机，不能直接安装第二台主机" : L"保存门诊数据，并向前台、诊室等工作站提供 9009 服务",
            found ? p.blockedDetail : p.secondaryText, 13.5f, {210, 424, 512, 472}, 400);
    b.Line(p.separator, 108, 491, 516, 491, 1);
    if (found) {
        b.Label(MultiHostHelpText(), p.warning, 12.5f, {108, 496, 516, 530}, 600);
    } else {
        b.Label(L"同一门诊通常只安装一台主机", p.mutedText, 12.5f, {108, 496, 516, 530}, 400);
    }

    b.StrokeRound({596, 334, 618, 356}, clientSelected ? p.accent : p.radio, 11, 1.5f);
    if (clientSelected) b.FillRound({601, 339, 613, 351}, p.accent, 6);
    b.MonitorIcon(636, 365, clientSelected ? p.accent : p.icon);
    b.Label(L"仅客户端版", p.title, 24, LandmarkRect(Landmark::ClientCardName), 700);
    if (found) {
        if (p.decorations) b.FillRound({960, 336, 1026, 370}, p.recommendBackdrop, 8);
        b.Label(L"推荐", p.link, 13, {960, 336, 1026, 370}, 700, TextAlign::Center);
    }
    b.Label(L"前台 / 诊室 / 其他工作站", p.link, 15, {742, 391, 1028, 423}, 600);
    b.Label(found ? L"连接已发现的 " + f.s.lanHostText + L":9009" : std::wstring(L"连接门诊内已安装的服务端"),
            p.secondaryText, 13.5f, {742, 424, 1036, 460}, found ? 600 : 400);
    b.Line(p.separator, 628, 491, 1036, 491, 1);
    b.Label(L"本机不保存服务端数据", p.mutedText, 12.5f, {628, 496, 1036, 530}, 400);
}

std::wstring IdleEditionLine(Edition edition) {
    if (edition == Edition::None) return L"请先选择安装版本";
    return std::wstring(L"将安装：  ") + EditionWindowName(edition);
}

void AddBottomPanel(SceneBuilder& b, const Facts& f) {
    const Palette& p = f.p;
    if (p.decorations) b.FillRound({57, 578, 1069, 678}, p.shadow, 12, 0.04f);
    const SceneRect panel{54, 574, 1066, 674};
    b.FillRound(panel, p.surface, 12);
    b.StrokeRound(panel, p.panelBorder, 12, 1);
    if (p.decorations) b.FillRound({54, 574, 59, 674}, p.accent, 2.5f);

    const int percent = f.s.progressPercent;
    if (!f.busy && percent <= 0) {
        b.Label(IdleEditionLine(f.s.edition), p.text, 16, LandmarkRect(Landmark::EditionLine), 600);
        b.FolderIcon(80, 631, p.folderIcon);
        b.Label(L"保存到  " + f.s.saveLocationText, p.secondaryText, 13.5f, LandmarkRect(Landmark::SaveLine), 400);
        return;
    }
    b.Label(f.s.detailText, p.text, 15, LandmarkRect(Landmark::DetailText), 600);
    b.Label(f.s.statusText, p.link, 12.5f, LandmarkRect(Landmark::StatusText), 400);
    const SceneRect track = LandmarkRect(Landmark::ProgressTrack);
    b.FillRound(track, p.track, 4);
    if (percent > 0) {
        const float right = static_cast<float>(percent * 560) / 100.0f + 80.0f;
        b.FillRound({track.left, track.top, right, track.bottom}, p.accent, 4);
    }
    b.Label(std::to_wstring(percent) + L"%", p.link, 20, LandmarkRect(Landmark::ProgressPercent), 700, TextAlign::Trailing);
    b.Label(FormatMegabytes(f.s.bytesDone) + L" / " + FormatMegabytes(f.s.bytesTotal) + L" MB", p.mutedText, 11,
            {654, 620, 760, 650}, 400, TextAlign::Trailing);
    std::wstring speed;
    if (f.s.speedBytesPerSecond > 0) {
        speed = FormatMegabytes(static_cast<std::int64_t>(f.s.speedBytesPerSecond)) + L" MB/s";
    }
    b.Label(std::move(speed), p.mutedText, 11, {766, 620, 856, 650}, 400, TextAlign::Trailing);
}

void AddMainButton(SceneBuilder& b, const Facts& f) {
    const SceneRect button = RegionRect(HitRegion::MainButton);
    const Palette& p = f.p;
    const MainButtonMode mode = MainButtonModeFor(f.s.edition, f.busy, f.s.progressPercent);
    const bool enabled = MainButtonEnabled(mode);
    std::uint32_t fill = p.accent;
    if (!enabled) {
        fill = p.disabledButton;
    } else if (f.hovered(HitRegion::MainButton)) {
        fill = p.buttonHover;
    }
    b.FillRound(button, fill, 9);
    // Without decorations the disabled face may match the panel: its outline shows the button.
    if (!enabled && !p.decorations) b.StrokeRound(button, p.disabledButtonText, 9, 1);
    if (f.focus == FocusItem::MainButton) b.StrokeRound(Grown(button, 4), p.focusRing, 11, 1.5f);
    b.Label(MainButtonLabel(mode), enabled ? p.buttonText : p.disabledButtonText, 15, button, 700, TextAlign::Center);
}

}  // namespace

std::vector<SceneItem> BuildScene(const SceneInput& input) {
    const Facts facts{input.snapshot, input.palette, input.busy, input.hoverRegion, input.focusIndex};
    SceneBuilder builder;
    AddHeader(builder, facts);
    AddHeading(builder, input.palette);
    AddLanBox(builder, facts);
    AddHelpCard(builder, input.palette);
    AddEditionCards(builder, facts);
    AddBottomPanel(builder, facts);
    AddMainButton(builder, facts);
    return builder.Take();
}

std::wstring FormatMegabytes(std::int64_t bytes) {
    wchar_t text[64];
    std::swprintf(text, sizeof text / sizeof text[0], L"%.1f", static_cast<double>(bytes) * (1.0 / 1048576.0));
    return text;
}

}  // namespace orivanta
