#include <windows.h>

#include <exception>
#include <optional>

#include "app/DiagnosticTests.h"
#include "app/FatalError.h"
#include "app/Options.h"
#include "app/ProcessEnd.h"
#include "app/RunLock.h"
#include "app/SecondRun.h"
#include "app/Startup.h"
#include "app/WindowStages.h"
#include "state/AppState.h"

namespace {

// After a failure that skipped the ordered shutdown, a download or LAN thread may
// still be using the shared state; the process ends here at once, before static
// destruction could free that state under them.
int EndAfterFailure(int exitCode) {
    const orivanta::AppState& app = orivanta::App();
    if (app.workerThread.joinable() || app.lanThread.joinable()) orivanta::EndProcessAtOnce(exitCode);
    return exitCode;
}

}  // namespace

// Process entry: the start-up sequence in its fixed order, every failure of it
// ending in the last-resort handling.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    using namespace orivanta;
    // Held until the process entry returns, the last-resort handling included.
    std::optional<RunLock> runLock;
    try {
        PrepareProcess();
        const DiagnosticOptions options = ReadDiagnosticOptions();
        if (const std::optional<int> exitCode = RunDiagnosticTest(options.test)) return *exitCode;
        // The diagnostic tests above run beside any run.
        runLock.emplace(App().diagnosticDataRoot);
        if (!runLock->claimed()) {
            AppState& app = App();
            return GiveWayToWorkingRun(app.diagnostics.get(), app.autoStart, app.diagnosticMode);
        }
        ApplyServerUrlOption();
        return RunInstallerWindow(instance, showCommand, options);
    } catch (const std::exception& failure) {
        return EndAfterFailure(HandleFatalException(failure));
    } catch (...) {
        return EndAfterFailure(HandleUnknownException());
    }
}
