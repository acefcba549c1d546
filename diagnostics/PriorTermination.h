#pragma once
// Detection of earlier runs that ended without their exit code: their marker is
// still in the sessions folder but their process is gone.

#include <string>

namespace orivanta {

// The report text for one stale marker; evidence is the marker's full path.
std::wstring ComposePriorUnexpectedReport(const std::wstring& timestamp, const std::wstring& evidence);

// Whether a process with this id runs now. Ids that cannot be opened for
// synchronisation count as ended.
bool ProcessIsRunning(long processId);

// Reports every marker in the sessions folder whose process is gone into the
// report root and deletes it; markers of running processes stay. Silent on failure.
void ScanPriorUnexpected(const std::wstring& reportRoot, const std::wstring& sessionsFolder,
                         const std::wstring& currentRunId);

}  // namespace orivanta
