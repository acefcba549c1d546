#include "AppStateReset.h"

#include <memory>

#include "diagnostics/RunDiagnostics.h"
#include "state/AppState.h"

namespace orivanta::test {

// The record's own constructor decides what fresh means. Any diagnostics still
// installed write their stop report as they are destroyed, as at a real exit.
void ResetAppState() {
    AppState& app = App();
    std::destroy_at(&app);
    std::construct_at(&app);
}

RunDiagnostics& InstalledDiagnostics() { return dynamic_cast<RunDiagnostics&>(*App().diagnostics); }

}  // namespace orivanta::test
