#pragma once
// Where the run's diagnostic files live: the report root under the user's local
// application data, with a fallback that support staff also know to look in.

#include <functional>
#include <string>

namespace orivanta {

// Yields the local application data folder; may raise "known folder failed".
using FolderSource = std::function<std::wstring()>;

// The real local application data folder (CSIDL_LOCAL_APPDATA).
std::wstring LocalAppDataFolder();

// True when "ORIVANTA_DIAGNOSTIC_REPORT_ROOT_INVALID" holds a non-empty value.
bool ReportRootForcedInvalid();

std::wstring NormalReportRoot(const std::wstring& localAppData);
std::wstring FallbackReportRoot(const std::wstring& localAppData);
constexpr const wchar_t* kForcedInvalidReportRoot = L"?:\\invalid\\process-exit";

// Creates and returns the report root: the normal (or forced invalid) root when
// it can be created, else the fallback root. Raises "known folder failed" or
// "create directory failed" only when the fallback cannot be created either.
std::wstring EstablishReportRoot(const FolderSource& localAppData);

}  // namespace orivanta
