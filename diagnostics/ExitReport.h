#pragma once
// The plain-text exit report that support staff read after an orderly end of a run.

#include <cstdint>
#include <string>

#include "diagnostics/ReportRoot.h"
#include "state/Edition.h"

namespace orivanta {

// How the run ended, as the caller of Finish states it.
struct ExitOutcome {
    std::wstring classification;  // "ControlledStop", "UserCancelled", "Completed", "UnhandledException"
    int exitCode = 0;
    std::wstring reason;
    std::wstring manualAction;
    std::wstring exceptionChain;  // empty: the report has no chain line
};

// Everything one report prints, gathered at the moment of writing.
struct ExitReportFacts {
    std::wstring timestamp;
    std::wstring runId;
    unsigned long processId = 0;
    std::wstring architecture;
    ExitOutcome outcome;
    std::wstring stage;
    std::wstring redactedCommandLine;
    Edition edition = Edition::None;
    std::int64_t bytesDone = 0;
    std::int64_t bytesTotal = 0;
    bool busy = false;
    bool cancelRequested = false;
    bool integrityPassed = false;
    bool installerLaunched = false;
    std::wstring sessionId;
    std::string packageId;  // UTF-8
    std::wstring signatureCheck;  // empty until a package was checked
    bool windowsNetworkReady = false;
    bool centerResponded = false;
    std::wstring lastSystemError;
    std::wstring reportRoot;
};

// The report text, every line ended by CR LF.
std::wstring ComposeExitReport(const ExitReportFacts& facts);

// Every token that holds "=" is cut there and gets "=<已脱敏>"; tokens are split
// at blanks and tabs outside double quotes and joined with one blank.
std::wstring RedactCommandLine(const std::wstring& commandLine);
std::wstring RedactedCommandLine();

// The place of the run's reports and what the report prints about the run itself.
struct ExitReportPlace {
    std::wstring runId;
    std::wstring reportRoot;
    FolderSource localAppData;  // for the fallback latest report
};

// Composes the report from the shared state and stores it as the per-run and the
// latest report; when either write fails, only the fallback latest report is
// written. Raises "known folder failed" or "create directory failed" when the
// fallback folder cannot be made.
void WriteExitReport(const ExitReportPlace& place, const std::wstring& stage, const ExitOutcome& outcome);

}  // namespace orivanta
