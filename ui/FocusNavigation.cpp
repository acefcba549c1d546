#include "ui/FocusNavigation.h"

namespace orivanta {
namespace {

int Step(int focus, bool backward) {
    if (backward) return focus == 1 ? 3 : focus - 1;
    return focus == 3 ? 1 : focus + 1;
}

}  // namespace

int TabFocus(int focus, bool backward, bool hostFound) {
    int next = Step(focus == kFocusNone ? kFocusServerCard : focus, backward);
    if (next == kFocusServerCard && hostFound) next = Step(next, backward);
    return next;
}

int ArrowFocus(int focus, bool hostFound) {
    if (hostFound) return kFocusClientCard;
    return focus == kFocusServerCard ? kFocusClientCard : kFocusServerCard;
}

int FocusOnActivation(int focus, bool hostFound) {
    if (focus != kFocusNone) return focus;
    return hostFound ? kFocusClientCard : kFocusServerCard;
}

}  // namespace orivanta
