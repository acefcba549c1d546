#include <windows.h>

#include <exception>

#include "app/DiagnosticTests.h"
#include "app/FatalError.h"
#include "app/Options.h"
#include "app/Startup.h"
#include "diagnostics/RunDiagnostics.h"
#include "workflow/AppState.h"

// Process entry: the start-up sequence in its fixed order, every failure of it
// ending in the last-resort handling.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace orivanta;
    try {
        PrepareProcess();
        const DiagnosticOptions options = ReadDiagnosticOptions();
        if (const std::optional<int> exitCode = RunDiagnosticTest(options.test)) return *exitCode;
        ApplyServerUrlOption();

        App().diagnostics.reset();
        return 0;
    } catch (const std::exception& failure) {
        return HandleFatalException(failure);
    } catch (...) {
        return HandleUnknownException();
    }
}
