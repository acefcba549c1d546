#include "diagnostics/RunDiagnostics.h"

#include <windows.h>

#include "common/AtomicFile.h"
#include "common/Folders.h"
#include "common/GuidText.h"
#include "common/Timestamp.h"
#include "diagnostics/ExitReport.h"
#include "diagnostics/PriorTermination.h"

namespace orivanta {

RunDiagnostics::RunDiagnostics() : RunDiagnostics(LocalAppDataFolder) {}

RunDiagnostics::RunDiagnostics(FolderSource localAppData)
    : localAppData_(std::move(localAppData)), stage_(L"建立本地退出报告") {
    runId_ = NewGuidText();
    reportRoot_ = EstablishReportRoot(localAppData_);
    const std::wstring sessions = reportRoot_ + L"\\sessions";
    EnsureDirectory(sessions);
    // Before this run's own marker exists, so the scan never reports it.
    ScanPriorUnexpected(reportRoot_, sessions, runId_);
    markerPath_ = sessions + L"\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" + runId_ + L".running";
    WriteMarker(L"started=" + UtcTimestamp());
}

RunDiagnostics::~RunDiagnostics() { FinishControlledStop(); }

void RunDiagnostics::FinishControlledStop() {
    Finish(L"ControlledStop", 0, L"程序窗口已正常关闭。", L"无需处理；未完成文件已保留，可再次打开继续下载。", L"");
}

void RunDiagnostics::WriteMarker(const std::wstring& firstLine) {
    WriteFileAtomically(markerPath_, firstLine + L"\r\nstage=" + stage_ + L"\r\n");
}

void RunDiagnostics::Heartbeat(const std::wstring& stage) {
    std::lock_guard<std::mutex> guard(lock_);
    if (finished_) return;
    stage_ = stage;
    WriteMarker(L"heartbeat=" + UtcTimestamp());
}

bool RunDiagnostics::Finish(const std::wstring& classification, int exitCode, const std::wstring& reason,
                            const std::wstring& manualAction, const std::wstring& exceptionChain) {
    // The report prints the caller's last system error; waiting for the lock must not replace it.
    const DWORD lastError = ::GetLastError();
    std::lock_guard<std::mutex> guard(lock_);
    if (finished_) return false;
    finished_ = true;
    try {
        ::SetLastError(lastError);
        WriteExitReport({runId_, reportRoot_, localAppData_}, stage_,
                        {classification, exitCode, reason, manualAction, exceptionChain});
    } catch (...) {
        // Nowhere to write the report. The run still ended in order, so the marker
        // goes too: left behind it would be reported as a crash at the next start.
    }
    ::DeleteFileW(markerPath_.c_str());
    return true;
}

void RunDiagnostics::FinishWithoutReport() {
    std::lock_guard<std::mutex> guard(lock_);
    finished_ = true;
    ::DeleteFileW(markerPath_.c_str());
}

std::wstring RunDiagnostics::stage() const {
    std::lock_guard<std::mutex> guard(lock_);
    return stage_;
}

bool RunDiagnostics::finished() const {
    std::lock_guard<std::mutex> guard(lock_);
    return finished_;
}

}  // namespace orivanta
