#include "ui/MainButton.h"

namespace orivanta {

MainButtonMode MainButtonModeFor(Edition edition, bool busy, int progressPercent) {
    // A running download can always be paused, whatever happened to the edition meanwhile.
    if (busy) return MainButtonMode::Pause;
    if (edition == Edition::None) return MainButtonMode::ChooseEdition;
    if (progressPercent > 0) return MainButtonMode::Resume;
    return MainButtonMode::Start;
}

const wchar_t* MainButtonLabel(MainButtonMode mode) {
    switch (mode) {
    case MainButtonMode::ChooseEdition:
        return L"请选择版本";
    case MainButtonMode::Pause:
        return L"暂停下载";
    case MainButtonMode::Resume:
        return L"继续下载";
    case MainButtonMode::Start:
        break;
    }
    return L"下载并安装";
}

}  // namespace orivanta
