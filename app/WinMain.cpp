#include <windows.h>

#include <exception>

#include "app/DiagnosticTests.h"
#include "app/FatalError.h"
#include "app/Options.h"
#include "app/Startup.h"
#include "app/WindowStages.h"

// Process entry: the start-up sequence in its fixed order, every failure of it
// ending in the last-resort handling.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    using namespace orivanta;
    try {
        PrepareProcess();
        const DiagnosticOptions options = ReadDiagnosticOptions();
        if (const std::optional<int> exitCode = RunDiagnosticTest(options.test)) return *exitCode;
        ApplyServerUrlOption();
        return RunInstallerWindow(instance, showCommand, options);
    } catch (const std::exception& failure) {
        return HandleFatalException(failure);
    } catch (...) {
        return HandleUnknownException();
    }
}
