#pragma once
// Where the pointer is and which item has the keyboard focus. Only the UI
// thread reads or writes them, so they live here and not in the shared record.

#include "ui/CanvasLayout.h"
#include "ui/FocusNavigation.h"

namespace orivanta {

struct WindowInteraction {
    HitRegion hoverRegion = HitRegion::None;
    FocusItem focusIndex = FocusItem::None;
};

// The window's one instance.
WindowInteraction& Interaction();

}  // namespace orivanta
