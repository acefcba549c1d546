#pragma once
// Keyboard focus among the window's three items. The server card is skipped
// while a host was found on the LAN, because it cannot be chosen then.

namespace orivanta {

enum class FocusItem : int { None = 0, ServerCard = 1, ClientCard = 2, MainButton = 3 };

// Tab (forward) and Shift+Tab (backward); no focus counts as the server card before the step.
FocusItem TabFocus(FocusItem focus, bool backward, bool hostFound);
// Left and Right arrows toggle between the two cards.
FocusItem ArrowFocus(FocusItem focus, bool hostFound);
// The focus the window takes when it gains the keyboard focus.
FocusItem FocusOnActivation(FocusItem focus, bool hostFound);

}  // namespace orivanta
