#pragma once
#include <mutex>
#include <string>

namespace orivanta {

// The run's local evidence: a marker that exists while the run has not ended
// in an orderly way, the last checkpoint, and the run's one exit report.
class RunDiagnostics {
public:
    RunDiagnostics();
    // Controlled stop: writes the "ControlledStop" report unless one exists.
    ~RunDiagnostics();
    RunDiagnostics(const RunDiagnostics&) = delete;
    RunDiagnostics& operator=(const RunDiagnostics&) = delete;

    void Heartbeat(const std::wstring& stage);
    void Finish(const std::wstring& classification, int exitCode, const std::wstring& reason,
                const std::wstring& manualAction, const std::wstring& exceptionChain);

private:
    std::mutex lock_;
    std::wstring stage_;
    bool finished_ = false;
};

}  // namespace orivanta
