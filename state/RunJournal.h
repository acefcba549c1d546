#pragma once
// What the rest of the program asks of the run's diagnostics: record a
// checkpoint, write the run's one exit report. Start-up installs the real
// diagnostics in App().diagnostics; everything else reaches them through
// Checkpoint and FinishRun, without depending on how they are kept.

#include <string>

namespace orivanta {

class RunJournal {
public:
    virtual ~RunJournal() = default;
    // Records the stage the run has reached.
    virtual void Heartbeat(const std::wstring& stage) = 0;
    // Writes the run's exit report the first time only; true for that first call.
    virtual bool Finish(const std::wstring& classification, int exitCode, const std::wstring& reason,
                        const std::wstring& manualAction, const std::wstring& exceptionChain) = 0;
    // Ends the run without a report, for a run that gave way to a working one.
    virtual void FinishWithoutReport() = 0;
    // Writes the report of a window closed in order, unless the run already has one.
    virtual void FinishControlledStop() = 0;
};

}  // namespace orivanta
