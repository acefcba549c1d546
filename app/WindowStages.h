#pragma once
// The second half of the process entry: save location, simulated LAN result,
// graphics, the main window, LAN discovery or the automatic start, the message
// loop, and the ordered shutdown.

#include <windows.h>

#include "app/Options.h"

namespace orivanta {

// Returns the exit code carried by WM_QUIT. Raises the start-up failures of the
// graphics factories and the window, and any failure of the window procedure.
int RunInstallerWindow(HINSTANCE instance, int showCommand, const DiagnosticOptions& options);

}  // namespace orivanta
