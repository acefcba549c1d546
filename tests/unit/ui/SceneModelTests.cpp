#include <gtest/gtest.h>

#include <algorithm>

#include "ui/SceneModel.h"

namespace orivanta {
namespace {

SceneInput FreshInput() {
    SceneInput input;
    input.snapshot.statusText = L"准备就绪";
    input.snapshot.detailText = L"请选择适合您的版本";
    input.snapshot.saveLocationText = L"D:\\欧瑞凡达安装包";
    return input;
}

SceneInput HostFoundInput() {
    SceneInput input = FreshInput();
    input.snapshot.lanState = LanState::HostFound;
    input.snapshot.lanHostText = L"192.168.1.20";
    return input;
}

template <typename Item>
std::vector<Item> ItemsOf(const std::vector<SceneItem>& scene) {
    std::vector<Item> items;
    for (const SceneItem& item : scene) {
        if (const Item* typed = std::get_if<Item>(&item)) items.push_back(*typed);
    }
    return items;
}

const LabelItem* LabelAt(const std::vector<LabelItem>& labels, SceneRect rect) {
    auto found = std::find_if(labels.begin(), labels.end(), [&](const LabelItem& l) { return l.rect == rect; });
    return found == labels.end() ? nullptr : &*found;
}

bool HasText(const std::vector<LabelItem>& labels, const std::wstring& text) {
    return std::any_of(labels.begin(), labels.end(), [&](const LabelItem& l) { return l.text == text; });
}

template <typename Item>
const Item* ShapeAt(const std::vector<Item>& shapes, SceneRect rect) {
    auto found = std::find_if(shapes.begin(), shapes.end(), [&](const Item& s) { return s.rect == rect; });
    return found == shapes.end() ? nullptr : &*found;
}

const SceneRect kServerCard{54, 310, 546, 544};
const SceneRect kClientCard{574, 310, 1066, 544};
const SceneRect kButton{884, 598, 1048, 652};
const SceneRect kLanBox{54, 206, 490, 288};
const SceneRect kBadge{77, 229, 125, 277};

TEST(SceneLayout, FirstScreenWhileTheLanIsChecked) {
    const auto scene = BuildScene(FreshInput());
    const auto labels = ItemsOf<LabelItem>(scene);
    const auto fills = ItemsOf<FillRoundItem>(scene);
    const auto strokes = ItemsOf<StrokeRoundItem>(scene);

    ASSERT_TRUE(std::holds_alternative<HeaderBandItem>(scene.front()));
    EXPECT_EQ(LabelAt(labels, kBadge)->text, L"…");
    EXPECT_EQ(LabelAt(labels, {142, 218, 470, 249})->text, L"正在检查局域网内的门诊主机");
    EXPECT_EQ(ShapeAt(fills, kLanBox)->color, 0xF1F7FBu);
    EXPECT_EQ(ShapeAt(fills, kServerCard)->color, 0xFFFFFFu);
    EXPECT_EQ(ShapeAt(fills, kClientCard)->color, 0xFFFFFFu);
    EXPECT_EQ(ShapeAt(strokes, kServerCard)->color, 0xD5DFEAu);
    EXPECT_EQ(ShapeAt(strokes, kClientCard)->color, 0xD5DFEAu);
    EXPECT_EQ(LabelAt(labels, {80, 584, 580, 618})->text, L"请先选择安装版本");
    EXPECT_EQ(LabelAt(labels, {118, 621, 700, 661})->text, L"保存到  D:\\欧瑞凡达安装包");
    EXPECT_EQ(ShapeAt(fills, kButton)->color, 0xA9B7C6u);
    EXPECT_EQ(LabelAt(labels, kButton)->text, L"请选择版本");
    EXPECT_FALSE(HasText(labels, L"需客服协助"));
    EXPECT_FALSE(HasText(labels, L"推荐"));
    EXPECT_EQ(ItemsOf<LogoItem>(scene).size(), 1u);
    EXPECT_EQ(ItemsOf<QrItem>(scene).size(), 1u);
}

TEST(SceneLayout, ClickableItemsAreDrawnWhereTheyAreHit) {
    SceneInput input = FreshInput();
    input.hoverRegion = HitRegion::Close;
    const auto fills = ItemsOf<FillRoundItem>(BuildScene(input));
    for (HitRegion region : {HitRegion::ServerCard, HitRegion::ClientCard, HitRegion::MainButton, HitRegion::Close}) {
        EXPECT_NE(ShapeAt(fills, RegionRect(region)), nullptr) << static_cast<int>(region);
        const SceneRect rect = RegionRect(region);
        EXPECT_EQ(HitTestCanvas({(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}), region);
    }
}

TEST(SceneLayout, NoHostFoundShowsTheInformationBadge) {
    SceneInput input = FreshInput();
    input.snapshot.lanState = LanState::NoHost;
    const auto labels = ItemsOf<LabelItem>(BuildScene(input));
    EXPECT_EQ(LabelAt(labels, kBadge)->text, L"i");
    EXPECT_EQ(LabelAt(labels, {142, 218, 470, 249})->text, L"局域网内暂未发现可连接主机");
    EXPECT_EQ(LabelAt(labels, {142, 249, 472, 278})->text, L"请根据这台电脑是否保存门诊数据选择版本");
}

TEST(SceneLayout, HostFoundGreysTheServerCardAndRecommendsTheClient) {
    const auto scene = BuildScene(HostFoundInput());
    const auto labels = ItemsOf<LabelItem>(scene);
    const auto fills = ItemsOf<FillRoundItem>(scene);

    EXPECT_EQ(ShapeAt(fills, kLanBox)->color, 0xF0FBF9u);
    EXPECT_EQ(ShapeAt(fills, kBadge)->color, 0x0FAE9Bu);
    EXPECT_EQ(LabelAt(labels, kBadge), nullptr);  // the check mark replaces the glyph
    EXPECT_EQ(LabelAt(labels, {294, 218, 470, 249})->text, L"192.168.1.20:9009");
    EXPECT_EQ(ShapeAt(fills, kServerCard)->color, 0xF8FAFCu);
    EXPECT_EQ(LabelAt(labels, {210, 346, 370, 389})->color, 0x718094u);
    EXPECT_EQ(LabelAt(labels, {210, 424, 512, 472})->text, L"局域网已存在门诊主机，不能直接安装第二台主机");
    EXPECT_EQ(LabelAt(labels, {210, 424, 512, 472})->color, 0x9A5B39u);
    const LabelItem* footer = LabelAt(labels, {108, 496, 516, 530});
    EXPECT_EQ(footer->text, L"多主机安装请联系 400-100-200");
    EXPECT_EQ(footer->weight, 600);
    EXPECT_EQ(LabelAt(labels, {420, 336, 516, 366})->text, L"需客服协助");
    EXPECT_EQ(LabelAt(labels, {960, 336, 1026, 370})->text, L"推荐");
    const LabelItem* clientDescription = LabelAt(labels, {742, 424, 1036, 460});
    EXPECT_EQ(clientDescription->text, L"连接已发现的 192.168.1.20:9009");
    EXPECT_EQ(clientDescription->weight, 600);
}

TEST(SceneLayout, SelectedCardGetsRadioDotAndBlueBorder) {
    SceneInput input = FreshInput();
    input.snapshot.edition = Edition::Client;
    const auto scene = BuildScene(input);
    const auto strokes = ItemsOf<StrokeRoundItem>(scene);
    const auto fills = ItemsOf<FillRoundItem>(scene);
    const auto labels = ItemsOf<LabelItem>(scene);

    EXPECT_EQ(ShapeAt(fills, kClientCard)->color, 0xF1F8FDu);
    EXPECT_EQ(ShapeAt(strokes, kClientCard)->color, 0x0A7FC3u);
    EXPECT_EQ(ShapeAt(strokes, kClientCard)->strokeWidth, 2.0f);
    EXPECT_NE(ShapeAt(fills, {601, 339, 613, 351}), nullptr);
    EXPECT_EQ(ShapeAt(fills, {81, 339, 93, 351}), nullptr);
    EXPECT_EQ(ShapeAt(strokes, {636, 365, 698, 407})->color, 0x0A7FC3u);  // monitor icon
    EXPECT_EQ(LabelAt(labels, {80, 584, 580, 618})->text, L"将安装：  仅客户端版");
    EXPECT_EQ(ShapeAt(fills, kButton)->color, 0x0A7FC3u);
    EXPECT_EQ(LabelAt(labels, kButton)->text, L"下载并安装");
}

TEST(SceneLayout, ServerSelectedWhileAHostIsFoundKeepsTheGreyBorder) {
    SceneInput input = HostFoundInput();
    input.snapshot.edition = Edition::Server;
    input.hoverRegion = HitRegion::ServerCard;
    const auto strokes = ItemsOf<StrokeRoundItem>(BuildScene(input));
    EXPECT_EQ(ShapeAt(strokes, kServerCard)->color, 0xD5DFEAu);
    EXPECT_EQ(ShapeAt(strokes, kServerCard)->strokeWidth, 2.0f);
}

TEST(SceneLayout, HoverColoursCardsButtonsAndCloseGlyph) {
    SceneInput input = FreshInput();
    input.snapshot.edition = Edition::Server;
    input.hoverRegion = HitRegion::ClientCard;
    auto strokes = ItemsOf<StrokeRoundItem>(BuildScene(input));
    EXPECT_EQ(ShapeAt(strokes, kClientCard)->color, 0x85C4E7u);
    EXPECT_EQ(ShapeAt(strokes, kServerCard)->color, 0x0A7FC3u);

    input.hoverRegion = HitRegion::MainButton;
    auto fills = ItemsOf<FillRoundItem>(BuildScene(input));
    EXPECT_EQ(ShapeAt(fills, kButton)->color, 0x075F9Bu);

    input.hoverRegion = HitRegion::Close;
    auto scene = BuildScene(input);
    fills = ItemsOf<FillRoundItem>(scene);
    EXPECT_EQ(ShapeAt(fills, {1060, 8, 1112, 58})->color, 0xD94B4Bu);
    EXPECT_EQ(ShapeAt(fills, {1012, 8, 1060, 58}), nullptr);
    const auto lines = ItemsOf<LineItem>(scene);
    const auto closeStroke = std::find_if(lines.begin(), lines.end(), [](const LineItem& l) { return l.x1 == 1077; });
    EXPECT_EQ(closeStroke->color, 0xFFFFFFu);

    input.hoverRegion = HitRegion::None;
    fills = ItemsOf<FillRoundItem>(BuildScene(input));
    EXPECT_EQ(ShapeAt(fills, {1060, 8, 1112, 58}), nullptr);
}

TEST(SceneLayout, FocusRingOnlyForTheMainButton) {
    SceneInput input = FreshInput();
    input.focusIndex = FocusItem::MainButton;
    EXPECT_NE(ShapeAt(ItemsOf<StrokeRoundItem>(BuildScene(input)), {880, 594, 1052, 656}), nullptr);
    input.focusIndex = FocusItem::ClientCard;
    EXPECT_EQ(ShapeAt(ItemsOf<StrokeRoundItem>(BuildScene(input)), {880, 594, 1052, 656}), nullptr);
}

TEST(SceneLayout, DownloadInProgressShowsTheProgressLayout) {
    SceneInput input = FreshInput();
    input.snapshot.edition = Edition::Client;
    input.busy = true;
    input.snapshot.statusText = L"正在下载";
    input.snapshot.detailText = L"仅客户端版 · 官方最新版";
    input.snapshot.progressPercent = 42;
    input.snapshot.bytesDone = 44040192;   // 42 MiB
    input.snapshot.bytesTotal = 104857600;  // 100 MiB
    input.snapshot.speedBytesPerSecond = 1572864.9;
    const auto scene = BuildScene(input);
    const auto labels = ItemsOf<LabelItem>(scene);
    const auto fills = ItemsOf<FillRoundItem>(scene);

    EXPECT_EQ(LabelAt(labels, {80, 584, 640, 614})->text, L"仅客户端版 · 官方最新版");
    EXPECT_EQ(LabelAt(labels, {80, 613, 580, 640})->text, L"正在下载");
    EXPECT_EQ(LabelAt(labels, {660, 584, 744, 616})->text, L"42%");
    EXPECT_EQ(LabelAt(labels, {654, 620, 760, 650})->text, L"42.0 / 100.0 MB");
    EXPECT_EQ(LabelAt(labels, {766, 620, 856, 650})->text, L"1.5 MB/s");
    EXPECT_NE(ShapeAt(fills, {80, 648, 640, 656}), nullptr);
    const auto bar = std::find_if(fills.begin(), fills.end(),
                                  [](const FillRoundItem& f) { return f.rect.top == 648 && f.rect.right < 640; });
    ASSERT_NE(bar, fills.end());
    EXPECT_NEAR(bar->rect.right, 315.2f, 1e-4);
    EXPECT_EQ(bar->color, 0x0A7FC3u);
    EXPECT_EQ(LabelAt(labels, kButton)->text, L"暂停下载");
    EXPECT_FALSE(HasText(labels, L"将安装：  仅客户端版"));
    EXPECT_EQ(LabelAt(labels, {118, 621, 700, 661}), nullptr);
}

TEST(SceneLayout, ProgressEdgesAndEmptyAmounts) {
    SceneInput input = FreshInput();
    input.snapshot.edition = Edition::Server;
    input.busy = true;
    auto scene = BuildScene(input);
    auto labels = ItemsOf<LabelItem>(scene);
    EXPECT_EQ(LabelAt(labels, {654, 620, 760, 650})->text, L"0.0 / 0.0 MB");
    EXPECT_EQ(LabelAt(labels, {766, 620, 856, 650})->text, L"");
    EXPECT_EQ(LabelAt(labels, {660, 584, 744, 616})->text, L"0%");
    const auto fills = ItemsOf<FillRoundItem>(scene);
    EXPECT_EQ(std::count_if(fills.begin(), fills.end(), [](const FillRoundItem& f) { return f.rect.top == 648; }), 1);

    input.snapshot.progressPercent = 100;
    EXPECT_NE(ShapeAt(ItemsOf<FillRoundItem>(BuildScene(input)), {80, 648, 640, 656}), nullptr);
    const auto full = ItemsOf<FillRoundItem>(BuildScene(input));
    EXPECT_EQ(std::count_if(full.begin(), full.end(), [](const FillRoundItem& f) { return f.rect.right == 640; }), 2);
}

TEST(SceneLayout, PausedWithProgressOffersToContinue) {
    SceneInput input = FreshInput();
    input.snapshot.edition = Edition::Client;
    input.snapshot.progressPercent = 37;
    const auto labels = ItemsOf<LabelItem>(BuildScene(input));
    EXPECT_EQ(LabelAt(labels, kButton)->text, L"继续下载");
    EXPECT_EQ(LabelAt(labels, {660, 584, 744, 616})->text, L"37%");
}

TEST(SceneLayout, MegabytesHaveOneDecimal) {
    EXPECT_EQ(FormatMegabytes(0), L"0.0");
    EXPECT_EQ(FormatMegabytes(1572864), L"1.5");
    EXPECT_EQ(FormatMegabytes(12897484), L"12.3");
    EXPECT_EQ(FormatMegabytes(5368709120LL), L"5120.0");
}

}  // namespace
}  // namespace orivanta
