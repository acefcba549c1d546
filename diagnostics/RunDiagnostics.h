#pragma once
#include <mutex>
#include <string>

#include "diagnostics/ReportRoot.h"
#include "state/RunJournal.h"

namespace orivanta {

// The run's local evidence: a marker that exists while the run has not ended
// in an orderly way, the last checkpoint, and the run's one exit report.
//
// Lock order: the object's own lock is taken before stateMutex (the report
// reads the shared state while holding it), never the other way round.
class RunDiagnostics final : public RunJournal {
public:
    // Resolves the report root (with its fallback), creates the sessions folder,
    // reports earlier runs that ended unexpectedly and writes this run's marker.
    // Raises "GUID creation failed", "known folder failed" or "create directory failed".
    RunDiagnostics();
    explicit RunDiagnostics(FolderSource localAppData);
    // Controlled stop: writes the "ControlledStop" report unless one exists.
    ~RunDiagnostics() override;
    // The same report without ending the object, for a process that ends while its worker still runs.
    void FinishControlledStop() override;
    RunDiagnostics(const RunDiagnostics&) = delete;
    RunDiagnostics& operator=(const RunDiagnostics&) = delete;

    // Records a checkpoint. Once the run is finished, checkpoints are dropped:
    // rewriting the deleted marker would make the next start report a crash.
    void Heartbeat(const std::wstring& stage) override;
    // Writes the run's exit report and deletes the marker, the first time only;
    // true for that first call. A report that cannot be written anywhere does
    // not escape: the run stays finished.
    bool Finish(const std::wstring& classification, int exitCode, const std::wstring& reason,
                const std::wstring& manualAction, const std::wstring& exceptionChain) override;

    // Ends the run without a report, for a run that gave way to a working one:
    // its marker goes, and the latest report stays the working run's.
    void FinishWithoutReport() override;

    const std::wstring& reportRoot() const { return reportRoot_; }
    const std::wstring& runId() const { return runId_; }
    const std::wstring& markerPath() const { return markerPath_; }
    std::wstring stage() const;
    bool finished() const;

private:
    void WriteMarker(const std::wstring& firstLine);

    FolderSource localAppData_;
    std::wstring reportRoot_;
    std::wstring runId_;
    std::wstring markerPath_;
    mutable std::mutex lock_;
    bool finished_ = false;
    std::wstring stage_;
};

}  // namespace orivanta
