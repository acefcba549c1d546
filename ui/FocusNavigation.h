#pragma once
// Keyboard focus among the window's three items: 0 nothing, 1 server card,
// 2 client card, 3 main button. The server card is skipped while a host was
// found on the LAN, because it cannot be chosen then.

namespace orivanta {

constexpr int kFocusNone = 0;
constexpr int kFocusServerCard = 1;
constexpr int kFocusClientCard = 2;
constexpr int kFocusMainButton = 3;

// Tab (forward) and Shift+Tab (backward); a focus of 0 counts as 1 before the step.
int TabFocus(int focus, bool backward, bool hostFound);
// Left and Right arrows toggle between the two cards.
int ArrowFocus(int focus, bool hostFound);
// The focus the window takes when it gains the keyboard focus.
int FocusOnActivation(int focus, bool hostFound);

}  // namespace orivanta
