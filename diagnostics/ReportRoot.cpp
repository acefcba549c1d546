#include "diagnostics/ReportRoot.h"

#include <windows.h>
#include <shlobj.h>

#include "common/Folders.h"

namespace orivanta {

std::wstring LocalAppDataFolder() { return KnownFolderPath(CSIDL_LOCAL_APPDATA); }

bool ReportRootForcedInvalid() {
    // Any characters reported mean the variable is set and not empty, even when
    // the value is longer than the buffer.
    wchar_t buffer[4] = {};
    return ::GetEnvironmentVariableW(L"ORIVANTA_DIAGNOSTIC_REPORT_ROOT_INVALID", buffer, 4) > 0;
}

std::wstring NormalReportRoot(const std::wstring& localAppData) {
    return localAppData + L"\\Orivanta\\InstallerDownloader\\process-exit";
}

std::wstring FallbackReportRoot(const std::wstring& localAppData) {
    return localAppData + L"\\Temp\\OrivantaInstaller\\process-exit";
}

std::wstring EstablishReportRoot(const FolderSource& localAppData) {
    try {
        const std::wstring root =
            ReportRootForcedInvalid() ? std::wstring(kForcedInvalidReportRoot) : NormalReportRoot(localAppData());
        EnsureDirectory(root);
        return root;
    } catch (const std::exception&) {
        const std::wstring root = FallbackReportRoot(localAppData());
        EnsureDirectory(root);
        return root;
    }
}

}  // namespace orivanta
