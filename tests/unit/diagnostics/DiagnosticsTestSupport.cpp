#include "DiagnosticsTestSupport.h"

#include <windows.h>

#include <cwctype>
#include <memory>

#include "AppStateReset.h"
#include "common/Utf.h"
#include "diagnostics/RunDiagnostics.h"
#include "state/AppState.h"

namespace orivanta::test {

void ResetSharedState() {
    App().diagnostics.reset();
    ResetAppState();
    App().diagnosticMode = true;  // no test may stop at a message box
}

void DiagnosticsTest::SetUp() {
    ::SetEnvironmentVariableW(L"ORIVANTA_DIAGNOSTIC_REPORT_ROOT_INVALID", nullptr);
    ResetSharedState();
}

void DiagnosticsTest::TearDown() {
    ResetSharedState();
    ::SetEnvironmentVariableW(L"ORIVANTA_DIAGNOSTIC_REPORT_ROOT_INVALID", nullptr);
}

FolderSource DiagnosticsTest::LocalAppData() const {
    const std::wstring path = localAppData_.path();
    return [path] { return path; };
}

std::wstring DiagnosticsTest::NormalRoot() const { return localAppData_ / L"Orivanta\\InstallerDownloader\\process-exit"; }

std::wstring DiagnosticsTest::FallbackRoot() const { return localAppData_ / L"Temp\\OrivantaInstaller\\process-exit"; }

std::wstring ReadText(const std::wstring& path) { return Utf8ToUtf16(ReadBytes(path)); }

std::vector<std::wstring> SplitCrLfLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            ADD_FAILURE() << "text does not end with CR LF";
            lines.push_back(text.substr(start));
            break;
        }
        const std::wstring line = text.substr(start, end - start);
        EXPECT_EQ(line.find_first_of(L"\r\n"), std::wstring::npos) << "stray line break in a line";
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

bool LooksLikeUtcTimestamp(const std::wstring& text) {
    const std::wstring shape = L"dddd-dd-ddTdd:dd:dd.dddZ";
    if (text.size() != shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == L'd' ? !std::iswdigit(text[i]) : text[i] != shape[i]) return false;
    }
    return true;
}

}  // namespace orivanta::test
