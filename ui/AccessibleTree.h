#pragma once
// What the window offers to screen readers and automation: one entry per thing
// a person sees or uses, read from the frame's scene (its texts) and the canvas
// layout (its places). No graphics and no COM here.

#include <string>
#include <vector>

#include "ui/CanvasLayout.h"
#include "ui/SceneModel.h"

namespace orivanta {

// The simple child ids, stable whatever is on the screen; what is not shown
// carries the invisible state.
enum class AccessibleChild : long {
    Title = 1,
    Minimize,
    Close,
    Heading,
    LanStatus,
    ServerCard,
    ClientCard,
    EditionLine,
    SaveLine,
    DetailText,
    StatusText,
    Progress,
    MainButton,
    Hotline,
    SupportPanel,
    SupportQr,
};
constexpr long kAccessibleChildCount = static_cast<long>(AccessibleChild::SupportQr);

struct AccessibleItem {
    AccessibleChild id = AccessibleChild::Title;
    long role = 0;          // ROLE_SYSTEM_*
    CanvasRect place;       // where it is drawn
    HitRegion region = HitRegion::None;  // what a click on it does
    std::wstring name;
    std::wstring description;
    std::wstring value;
    std::wstring defaultAction;  // empty: it has none
    long state = 0;         // STATE_SYSTEM_*
};

// What the tree needs to know of the window itself.
struct AccessibleWindowState {
    bool focused = false;  // it holds the keyboard focus, so the focused item is announced as such
    bool enabled = true;   // false while a box it owns is up: then nothing in it can be used
};

// The whole tree for one frame.
std::vector<AccessibleItem> BuildAccessibleTree(const SceneInput& input, AccessibleWindowState window);

// The keyboard focus item a child is (None for what takes no focus).
FocusItem AccessibleFocusItem(AccessibleChild id);

// The child drawn at a canvas point, preferring clickable items; 0 (the window itself) for none.
long AccessibleChildAt(const std::vector<AccessibleItem>& tree, CanvasPoint point);

}  // namespace orivanta
