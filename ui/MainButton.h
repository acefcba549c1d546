#pragma once
// What the main button offers, decided once for the Direct2D scene, the GDI
// layout and the button's action.

#include "state/Edition.h"

namespace orivanta {

enum class MainButtonMode : int {
    ChooseEdition,  // no edition yet and idle: shown greyed, does nothing
    Start,          // "下载并安装"
    Resume,         // not busy, with the progress of an earlier request left
    Pause,          // a request is running
};

// Busy comes first, then no edition, then a positive percent.
MainButtonMode MainButtonModeFor(Edition edition, bool busy, int progressPercent);

const wchar_t* MainButtonLabel(MainButtonMode mode);

inline bool MainButtonEnabled(MainButtonMode mode) { return mode != MainButtonMode::ChooseEdition; }

}  // namespace orivanta
