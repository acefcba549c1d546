#include "ui/FocusNavigation.h"

namespace orivanta {
namespace {

// Tab order: server card, client card, main button, and round again.
FocusItem Step(FocusItem focus, bool backward) {
    switch (focus) {
    case FocusItem::ServerCard:
        return backward ? FocusItem::MainButton : FocusItem::ClientCard;
    case FocusItem::ClientCard:
        return backward ? FocusItem::ServerCard : FocusItem::MainButton;
    default:
        return backward ? FocusItem::ClientCard : FocusItem::ServerCard;
    }
}

}  // namespace

FocusItem TabFocus(FocusItem focus, bool backward, bool hostFound) {
    FocusItem next = Step(focus == FocusItem::None ? FocusItem::ServerCard : focus, backward);
    if (next == FocusItem::ServerCard && hostFound) next = Step(next, backward);
    return next;
}

FocusItem ArrowFocus(FocusItem focus, bool hostFound) {
    if (hostFound) return FocusItem::ClientCard;
    return focus == FocusItem::ServerCard ? FocusItem::ClientCard : FocusItem::ServerCard;
}

FocusItem FocusOnActivation(FocusItem focus, bool hostFound) {
    if (focus != FocusItem::None) return focus;
    return hostFound ? FocusItem::ClientCard : FocusItem::ServerCard;
}

}  // namespace orivanta
