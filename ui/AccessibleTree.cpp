#include "ui/AccessibleTree.h"

#include <oleacc.h>

#include <variant>

#include "ui/MainButton.h"

namespace orivanta {
namespace {

// Where each child is and which of the scene's texts make its name, value and
// description: the labels drawn inside those areas. A fixed name stands for what
// shows no text of its own (glyphs, images, the bar).
struct ChildSpec {
    AccessibleChild id;
    long role;
    CanvasRect place;
    HitRegion region = HitRegion::None;
    const wchar_t* fixedName = nullptr;
    CanvasRect nameArea{};
    CanvasRect valueArea{};
    CanvasRect descriptionArea{};
};

constexpr CanvasRect L(Landmark landmark) { return LandmarkRect(landmark); }
constexpr CanvasRect R(HitRegion region) { return RegionRect(region); }

const ChildSpec kChildren[] = {
    {AccessibleChild::Title, ROLE_SYSTEM_STATICTEXT, L(Landmark::Title), HitRegion::None, nullptr, L(Landmark::Title)},
    {AccessibleChild::Minimize, ROLE_SYSTEM_PUSHBUTTON, R(HitRegion::Minimize), HitRegion::Minimize, L"最小化"},
    {AccessibleChild::Close, ROLE_SYSTEM_PUSHBUTTON, R(HitRegion::Close), HitRegion::Close, L"关闭"},
    {AccessibleChild::Heading, ROLE_SYSTEM_STATICTEXT, L(Landmark::Heading), HitRegion::None, nullptr,
     L(Landmark::Heading), {}, L(Landmark::Subheading)},
    {AccessibleChild::LanStatus, ROLE_SYSTEM_STATICTEXT, L(Landmark::LanBox), HitRegion::None, nullptr,
     L(Landmark::LanHeadline), {}, L(Landmark::LanDetail)},
    {AccessibleChild::ServerCard, ROLE_SYSTEM_RADIOBUTTON, R(HitRegion::ServerCard), HitRegion::ServerCard, nullptr,
     L(Landmark::ServerCardName), {}, R(HitRegion::ServerCard)},
    {AccessibleChild::ClientCard, ROLE_SYSTEM_RADIOBUTTON, R(HitRegion::ClientCard), HitRegion::ClientCard, nullptr,
     L(Landmark::ClientCardName), {}, R(HitRegion::ClientCard)},
    {AccessibleChild::EditionLine, ROLE_SYSTEM_STATICTEXT, L(Landmark::EditionLine), HitRegion::None, nullptr,
     L(Landmark::EditionLine)},
    {AccessibleChild::SaveLine, ROLE_SYSTEM_STATICTEXT, L(Landmark::SaveLine), HitRegion::None, nullptr,
     L(Landmark::SaveLine)},
    {AccessibleChild::DetailText, ROLE_SYSTEM_STATICTEXT, L(Landmark::DetailText), HitRegion::None, nullptr,
     L(Landmark::DetailText)},
    {AccessibleChild::StatusText, ROLE_SYSTEM_STATICTEXT, L(Landmark::StatusText), HitRegion::None, nullptr,
     L(Landmark::StatusText)},
    {AccessibleChild::Progress, ROLE_SYSTEM_PROGRESSBAR, L(Landmark::ProgressTrack), HitRegion::None, L"下载进度", {},
     L(Landmark::ProgressPercent), L(Landmark::ProgressFigures)},
    {AccessibleChild::MainButton, ROLE_SYSTEM_PUSHBUTTON, R(HitRegion::MainButton), HitRegion::MainButton, nullptr,
     R(HitRegion::MainButton)},
    {AccessibleChild::Hotline, ROLE_SYSTEM_STATICTEXT, L(Landmark::Hotline), HitRegion::None, nullptr,
     L(Landmark::Hotline)},
    {AccessibleChild::SupportPanel, ROLE_SYSTEM_GROUPING, L(Landmark::HelpCard), HitRegion::None, nullptr,
     L(Landmark::HelpHeadline), {}, L(Landmark::HelpCard)},
    {AccessibleChild::SupportQr, ROLE_SYSTEM_GRAPHIC, L(Landmark::QrImage), HitRegion::None, L"联系客服的微信二维码"},
};
static_assert(std::size(kChildren) == kAccessibleChildCount);

bool IsEmpty(CanvasRect r) { return r.right <= r.left; }

bool Inside(const LabelItem& label, CanvasRect area) {
    return !IsEmpty(area) && !label.text.empty() && Encloses(area, label.rect);
}

// The texts of the labels inside `area` and outside the areas already used, in drawing order.
std::wstring TextsIn(const std::vector<SceneItem>& scene, CanvasRect area, const wchar_t* separator,
                     CanvasRect skipA = {}, CanvasRect skipB = {}) {
    std::wstring text;
    for (const SceneItem& item : scene) {
        const auto* label = std::get_if<LabelItem>(&item);
        if (label == nullptr || !Inside(*label, area) || Inside(*label, skipA) || Inside(*label, skipB)) continue;
        if (!text.empty()) text += separator;
        text += label->text;
    }
    return text;
}

long StateOf(const ChildSpec& entry, const SceneInput& input, AccessibleWindowState window, bool shown) {
    if (!shown) return STATE_SYSTEM_INVISIBLE;
    const DisplaySnapshot& s = input.snapshot;
    long state = window.enabled ? 0 : STATE_SYSTEM_UNAVAILABLE;
    if (entry.region == HitRegion::None) state |= STATE_SYSTEM_READONLY;
    if (entry.region != HitRegion::None && input.hoverRegion == entry.region) state |= STATE_SYSTEM_HOTTRACKED;
    const FocusItem focusItem = AccessibleFocusItem(entry.id);
    if (focusItem != FocusItem::None) {
        state |= STATE_SYSTEM_FOCUSABLE;
        if (window.focused && input.focusIndex == focusItem) state |= STATE_SYSTEM_FOCUSED;
    }
    if (entry.role == ROLE_SYSTEM_RADIOBUTTON) {
        const Edition edition = entry.id == AccessibleChild::ServerCard ? Edition::Server : Edition::Client;
        state |= STATE_SYSTEM_SELECTABLE;
        if (s.edition == edition) state |= STATE_SYSTEM_SELECTED | STATE_SYSTEM_CHECKED;
        // A card cannot be chosen during a download, nor the server once a host answered.
        if (input.busy || (edition == Edition::Server && s.lanState == LanState::HostFound)) {
            state |= STATE_SYSTEM_UNAVAILABLE;
        }
    }
    if (entry.id == AccessibleChild::MainButton &&
        !MainButtonEnabled(MainButtonModeFor(s.edition, input.busy, s.progressPercent))) {
        state |= STATE_SYSTEM_UNAVAILABLE;
    }
    return state;
}

std::wstring DefaultActionOf(const AccessibleItem& item, AccessibleWindowState window) {
    if (!window.enabled) return {};
    switch (item.id) {
    case AccessibleChild::Minimize:
    case AccessibleChild::Close:
        return item.name;
    case AccessibleChild::ServerCard:
    case AccessibleChild::ClientCard:
        return L"选择";
    case AccessibleChild::MainButton:
        // The label says what the button does; a greyed one does nothing.
        return (item.state & STATE_SYSTEM_UNAVAILABLE) != 0 ? std::wstring() : item.name;
    default:
        return {};
    }
}

}  // namespace

FocusItem AccessibleFocusItem(AccessibleChild id) {
    switch (id) {
    case AccessibleChild::ServerCard:
        return FocusItem::ServerCard;
    case AccessibleChild::ClientCard:
        return FocusItem::ClientCard;
    case AccessibleChild::MainButton:
        return FocusItem::MainButton;
    default:
        return FocusItem::None;
    }
}

std::vector<AccessibleItem> BuildAccessibleTree(const SceneInput& input, AccessibleWindowState window) {
    const std::vector<SceneItem> scene = BuildScene(input);
    std::vector<AccessibleItem> tree;
    tree.reserve(std::size(kChildren));
    for (const ChildSpec& entry : kChildren) {
        AccessibleItem item;
        item.id = entry.id;
        item.role = entry.role;
        item.place = entry.place;
        item.region = entry.region;
        item.name = entry.fixedName != nullptr ? entry.fixedName : TextsIn(scene, entry.nameArea, L" ");
        item.value = TextsIn(scene, entry.valueArea, L" ");
        item.description = TextsIn(scene, entry.descriptionArea, L"\n", entry.nameArea, entry.valueArea);
        // What draws no text of its own is always shown, except the bar, which comes with its percent.
        const bool shown = entry.fixedName != nullptr ? IsEmpty(entry.valueArea) || !item.value.empty()
                                                     : !item.name.empty();
        item.state = StateOf(entry, input, window, shown);
        item.defaultAction = shown ? DefaultActionOf(item, window) : std::wstring();
        tree.push_back(std::move(item));
    }
    return tree;
}

long AccessibleChildAt(const std::vector<AccessibleItem>& tree, CanvasPoint point) {
    long found = CHILDID_SELF;
    float foundArea = 0;
    for (const AccessibleItem& item : tree) {
        if ((item.state & STATE_SYSTEM_INVISIBLE) != 0 || !item.place.Contains(point)) continue;
        const float area = (item.place.right - item.place.left) * (item.place.bottom - item.place.top);
        if (found == CHILDID_SELF || area < foundArea) {
            found = static_cast<long>(item.id);
            foundArea = area;
        }
    }
    return found;
}

}  // namespace orivanta
