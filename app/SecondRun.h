#pragma once
// What a run does when another run already works (app/RunLock.h): it leaves
// that run's files and reports alone and ends at once.

namespace orivanta {

class RunJournal;

constexpr unsigned long kWorkingWindowWaitMilliseconds = 5000;

// A window run brings the working run's window to the front and ends with 0,
// leaving no report and no marker. When no such window shows on this desktop
// within the wait (the working run is another user's, or an automatic run with
// its window hidden), a message box says so, unless diagnostic mode is on.
// An automatic run ends with 4 and an exit report that names the reason.
// Returns the exit code.
int GiveWayToWorkingRun(RunJournal* diagnostics, bool autoStart, bool diagnosticMode,
                        unsigned long windowWaitMilliseconds = kWorkingWindowWaitMilliseconds);

}  // namespace orivanta
