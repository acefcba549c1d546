#include "ui/SceneModel.h"

#include <cwchar>

#include "common/SupportHotline.h"
#include "lan/LanDiscovery.h"
#include "state/Edition.h"
#include "ui/MainButton.h"

namespace orivanta {
namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kNavy = 0x071D37;
constexpr std::uint32_t kInk = 0x142033;
constexpr std::uint32_t kSlate = 0x5C6B7E;
constexpr std::uint32_t kMutedSlate = 0x718094;
constexpr std::uint32_t kBlue = 0x0A7FC3;
constexpr std::uint32_t kLinkBlue = 0x0879BF;
constexpr std::uint32_t kHoverBlue = 0x85C4E7;
constexpr std::uint32_t kCardBorderGrey = 0xD5DFEA;
constexpr std::uint32_t kRadioGrey = 0x9AABBC;
constexpr std::uint32_t kIconNavy = 0x1A3552;
constexpr std::uint32_t kSelectedCardFill = 0xF1F8FD;
constexpr std::uint32_t kSeparatorGrey = 0xE4EAF0;
constexpr std::uint32_t kShadow = 0x071D37;
constexpr std::uint32_t kBrown = 0xB85A25;

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
    void FolderIcon(float x, float y) {
        constexpr std::uint32_t kFolderColor = 0x29425D;
        StrokeRound({x, y + 5, x + 25, y + 23}, kFolderColor, 3, 1.7f);
        StrokeRound({x + 3, y, x + 12, y + 8}, kFolderColor, 2, 1.7f);
    }

    std::vector<SceneItem> Take() { return std::move(items_); }

private:
    std::vector<SceneItem> items_;
};

struct Facts {
    const DisplaySnapshot& s;
    bool busy;
    HitRegion hover;
    FocusItem focus;
    bool hostFound() const { return s.lanState == LanState::HostFound; }
    bool checking() const { return s.lanState == LanState::Checking; }
    bool hovered(HitRegion region) const { return hover == region; }
};

void AddHeader(SceneBuilder& b, const Facts& f) {
    b.Add(HeaderBandItem{{0, 0, 1120, 66}, 0x04172E, 0x072846});
    b.Add(LogoItem{{28, 14, 235, 51}, 1.0f, {0, 0, 361, 64}});
    b.Line(0x66809A, 260, 14, 260, 52, 1);
    b.Label(L"安装助手", kWhite, 20, LandmarkRect(Landmark::Title), 600);
    b.Label(L"客服热线  " + SupportHotlineText(), 0xD9E8F5, 14, LandmarkRect(Landmark::Hotline), 600, TextAlign::Trailing);
    if (f.hovered(HitRegion::Minimize)) b.FillRound(RegionRect(HitRegion::Minimize), kWhite, 8, 0.08f);
    if (f.hovered(HitRegion::Close)) b.FillRound(RegionRect(HitRegion::Close), 0xD94B4B, 8, 0.86f);
    b.Line(0xDDE8F3, 1027, 33, 1045, 33, 1.8f);
    const std::uint32_t closeGlyph = f.hovered(HitRegion::Close) ? kWhite : 0xDDE8F3;
    b.Line(closeGlyph, 1077, 23, 1095, 42, 2);
    b.Line(closeGlyph, 1095, 23, 1077, 42, 2);
}

void AddHeading(SceneBuilder& b) {
    b.Label(L"选择这台电脑的安装方式", kNavy, 32, LandmarkRect(Landmark::Heading), 700);
    b.Label(L"请选择适合这台电脑的用途，下载完成并校验后，将打开安装程序由您确认安装。", kSlate, 15,
            LandmarkRect(Landmark::Subheading), 400);
}

void AddLanBox(SceneBuilder& b, const Facts& f) {
    const bool found = f.hostFound();
    const SceneRect box = LandmarkRect(Landmark::LanBox);
    b.FillRound(box, found ? 0xF0FBF9 : 0xF1F7FB, 11);
    b.StrokeRound(box, found ? 0x9ADBD1 : 0xD6E6F1, 11, 1);
    const SceneRect badge{77, 229, 125, 277};
    b.FillRound(badge, found ? 0x0FAE9B : 0xE3EFF7, 24);
    if (found) {
        b.Line(kWhite, 90, 252, 101, 262, 3);
        b.Line(kWhite, 101, 262, 115, 243, 3);
        b.Label(L"已发现门诊主机", kInk, 16, {142, 218, 294, 249}, 600);
        b.Label(f.s.lanHostText + L":9009", kLinkBlue, 16, {294, 218, 470, 249}, 700);
        b.Label(L"这台电脑可以直接连接现有服务端", kSlate, 13, {142, 249, 468, 278}, 400);
        return;
    }
    const bool checking = f.checking();
    b.Label(checking ? L"…" : L"i", kBlue, 17, badge, 700, TextAlign::Center);
    b.Label(checking ? L"正在检查局域网内的门诊主机" : L"局域网内暂未发现可连接主机", kInk, 15,
            LandmarkRect(Landmark::LanHeadline), 600);
    b.Label(checking ? L"检测期间您也可以先选择这台电脑的用途" : L"请根据这台电脑是否保存门诊数据选择版本",
            kSlate, 12.5f, LandmarkRect(Landmark::LanDetail), 400);
}

void AddHelpCard(SceneBuilder& b) {
    b.FillRound({685, 98, 1069, 290}, kShadow, 12, 0.035f);
    const SceneRect card = LandmarkRect(Landmark::HelpCard);
    b.FillRound(card, kWhite, 12);
    b.StrokeRound(card, 0xDCE5EE, 12, 1);
    b.Label(L"安装遇到问题？", kSlate, 14, LandmarkRect(Landmark::HelpHeadline), 400);
    b.Label(L"微信扫码联系\n欧瑞凡达客服", kLinkBlue, 18, {712, 148, 884, 211}, 700);
    b.Label(L"扫码后可由客服协助安装", kMutedSlate, 12.5f, {712, 220, 884, 255}, 400);
    b.Add(QrItem{LandmarkRect(Landmark::QrImage), 1.0f});
}

void AddEditionCards(SceneBuilder& b, const Facts& f) {
    const bool found = f.hostFound();
    const bool serverSelected = f.s.edition == Edition::Server;
    const bool clientSelected = f.s.edition == Edition::Client;
    const SceneRect serverRect = RegionRect(HitRegion::ServerCard);
    const SceneRect clientRect = RegionRect(HitRegion::ClientCard);

    b.FillRound(Shifted(serverRect, 3, 5), kShadow, 12, 0.055f);
    b.FillRound(Shifted(clientRect, 3, 5), kShadow, 12, 0.055f);
    b.FillRound(serverRect, found ? 0xF8FAFC : serverSelected ? kSelectedCardFill : kWhite, 12);
    b.FillRound(clientRect, clientSelected ? kSelectedCardFill : kWhite, 12);

    std::uint32_t serverBorder = kCardBorderGrey;
    if (!found && serverSelected) {
        serverBorder = kBlue;
    } else if (!found && f.hovered(HitRegion::ServerCard)) {
        serverBorder = kHoverBlue;
    }
    b.StrokeRound(serverRect, serverBorder, 12, serverSelected ? 2.0f : 1.0f);
    if (clientSelected) {
        b.StrokeRound(clientRect, kBlue, 12, 2);
    } else {
        b.StrokeRound(clientRect, f.hovered(HitRegion::ClientCard) ? kHoverBlue : kCardBorderGrey, 12, 1);
    }

    b.StrokeRound({76, 334, 98, 356}, serverSelected ? kBlue : kRadioGrey, 11, 1.5f);
    if (serverSelected) b.FillRound({81, 339, 93, 351}, kBlue, 6);
    b.ServerRackIcon(112, 366, found ? 0x8FA0B2 : kIconNavy);
    b.Label(L"服务端版", found ? kMutedSlate : kNavy, 24, LandmarkRect(Landmark::ServerCardName), 700);
    if (found) {
        b.FillRound({420, 336, 516, 366}, 0xFFF0E9, 7);
        b.Label(L"需客服协助", kBrown, 11, {420, 336, 516, 366}, 700, TextAlign::Center);
    }
    b.Label(L"门诊主机 / 数据服务器", found ? kMutedSlate : kLinkBlue, 15, {210, 391, 500, 423}, 600);
    b.Label(found ? L"局域网已存在门诊主机，不能直接安装第二台主机" : L"保存门诊数据，并向前台、诊室等工作站提供 9009 服务",
            found ? 0x9A5B39 : kSlate, 13.5f, {210, 424, 512, 472}, 400);
    b.Line(kSeparatorGrey, 108, 491, 516, 491, 1);
    if (found) {
        b.Label(MultiHostHelpText(), kBrown, 12.5f, {108, 496, 516, 530}, 600);
    } else {
        b.Label(L"同一门诊通常只安装一台主机", kMutedSlate, 12.5f, {108, 496, 516, 530}, 400);
    }

    b.StrokeRound({596, 334, 618, 356}, clientSelected ? kBlue : kRadioGrey, 11, 1.5f);
    if (clientSelected) b.FillRound({601, 339, 613, 351}, kBlue, 6);
    b.MonitorIcon(636, 365, clientSelected ? kBlue : kIconNavy);
    b.Label(L"仅客户端版", kNavy, 24, LandmarkRect(Landmark::ClientCardName), 700);
    if (found) {
        b.FillRound({960, 336, 1026, 370}, 0xDFF4FF, 8);
        b.Label(L"推荐", kLinkBlue, 13, {960, 336, 1026, 370}, 700, TextAlign::Center);
    }
    b.Label(L"前台 / 诊室 / 其他工作站", kLinkBlue, 15, {742, 391, 1028, 423}, 600);
    b.Label(found ? L"连接已发现的 " + f.s.lanHostText + L":9009" : std::wstring(L"连接门诊内已安装的服务端"), kSlate,
            13.5f, {742, 424, 1036, 460}, found ? 600 : 400);
    b.Line(kSeparatorGrey, 628, 491, 1036, 491, 1);
    b.Label(L"本机不保存服务端数据", kMutedSlate, 12.5f, {628, 496, 1036, 530}, 400);
}

std::wstring IdleEditionLine(Edition edition) {
    if (edition == Edition::None) return L"请先选择安装版本";
    return std::wstring(L"将安装：  ") + EditionWindowName(edition);
}

void AddBottomPanel(SceneBuilder& b, const Facts& f) {
    b.FillRound({57, 578, 1069, 678}, kShadow, 12, 0.04f);
    const SceneRect panel{54, 574, 1066, 674};
    b.FillRound(panel, kWhite, 12);
    b.StrokeRound(panel, 0xDCE5EE, 12, 1);
    b.FillRound({54, 574, 59, 674}, kBlue, 2.5f);

    const int percent = f.s.progressPercent;
    if (!f.busy && percent <= 0) {
        b.Label(IdleEditionLine(f.s.edition), kInk, 16, LandmarkRect(Landmark::EditionLine), 600);
        b.FolderIcon(80, 631);
        b.Label(L"保存到  " + f.s.saveLocationText, kSlate, 13.5f, LandmarkRect(Landmark::SaveLine), 400);
        return;
    }
    b.Label(f.s.detailText, kInk, 15, LandmarkRect(Landmark::DetailText), 600);
    b.Label(f.s.statusText, kLinkBlue, 12.5f, LandmarkRect(Landmark::StatusText), 400);
    const SceneRect track = LandmarkRect(Landmark::ProgressTrack);
    b.FillRound(track, 0xE5ECF3, 4);
    if (percent > 0) {
        const float right = static_cast<float>(percent * 560) / 100.0f + 80.0f;
        b.FillRound({track.left, track.top, right, track.bottom}, kBlue, 4);
    }
    b.Label(std::to_wstring(percent) + L"%", kLinkBlue, 20, LandmarkRect(Landmark::ProgressPercent), 700, TextAlign::Trailing);
    b.Label(FormatMegabytes(f.s.bytesDone) + L" / " + FormatMegabytes(f.s.bytesTotal) + L" MB", kMutedSlate, 11,
            {654, 620, 760, 650}, 400, TextAlign::Trailing);
    std::wstring speed;
    if (f.s.speedBytesPerSecond > 0) {
        speed = FormatMegabytes(static_cast<std::int64_t>(f.s.speedBytesPerSecond)) + L" MB/s";
    }
    b.Label(std::move(speed), kMutedSlate, 11, {766, 620, 856, 650}, 400, TextAlign::Trailing);
}

void AddMainButton(SceneBuilder& b, const Facts& f) {
    const SceneRect button = RegionRect(HitRegion::MainButton);
    const MainButtonMode mode = MainButtonModeFor(f.s.edition, f.busy, f.s.progressPercent);
    std::uint32_t fill = kBlue;
    if (!MainButtonEnabled(mode)) {
        fill = 0xA9B7C6;
    } else if (f.hovered(HitRegion::MainButton)) {
        fill = 0x075F9B;
    }
    b.FillRound(button, fill, 9);
    if (f.focus == FocusItem::MainButton) b.StrokeRound(Grown(button, 4), 0x15A9DB, 11, 1.5f);
    b.Label(MainButtonLabel(mode), kWhite, 15, button, 700, TextAlign::Center);
}

}  // namespace

std::vector<SceneItem> BuildScene(const SceneInput& input) {
    const Facts facts{input.snapshot, input.busy, input.hoverRegion, input.focusIndex};
    SceneBuilder builder;
    AddHeader(builder, facts);
    AddHeading(builder);
    AddLanBox(builder, facts);
    AddHelpCard(builder);
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
