#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

#include "DiagnosticsTestSupport.h"
#include "common/Folders.h"
#include "common/Handles.h"
#include "diagnostics/PriorTermination.h"
#include "diagnostics/RunDiagnostics.h"

namespace orivanta::test {
namespace {

using PriorTerminationTest = DiagnosticsTest;

// The id of a process that has started and ended.
DWORD EndedProcessId() {
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(system) + L"\\cmd.exe\" /c exit 0";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &info)) {
        ADD_FAILURE() << "cmd.exe could not be started";
        return 0;
    }
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    EXPECT_EQ(::WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
    return info.dwProcessId;
}

const wchar_t* const kOldRunId = L"3F2504E0-4F89-11D3-9A0C-0305E82C3301";

TEST_F(PriorTerminationTest, StaleMarkersAreReportedOnceAndLiveOnesStay) {
    const std::wstring sessions = NormalRoot() + L"\\sessions";
    EnsureDirectory(sessions);
    const std::wstring live = std::to_wstring(::GetCurrentProcessId()) + L"-" + kOldRunId + L".running";
    const std::wstring ended = std::to_wstring(EndedProcessId()) + L"-" + kOldRunId + L".running";
    const std::wstring noNumber = std::wstring(L"crash-") + kOldRunId + L".running";
    const std::wstring zero = std::wstring(L"0-") + kOldRunId + L".running";
    for (const std::wstring& name : {live, ended, noNumber, zero}) WriteBytes(sessions + L"\\" + name, "stage=x\r\n");
    WriteBytes(sessions + L"\\notes.txt", "unrelated");

    RunDiagnostics diagnostics(LocalAppData());
    const std::wstring own = diagnostics.markerPath().substr(sessions.size() + 1);

    EXPECT_TRUE(FileExists(sessions + L"\\" + live));
    EXPECT_TRUE(FileExists(sessions + L"\\notes.txt"));
    std::vector<std::wstring> remaining = FileNames(sessions, L"*.running");
    std::sort(remaining.begin(), remaining.end());
    std::vector<std::wstring> expectedRemaining{live, own};
    std::sort(expectedRemaining.begin(), expectedRemaining.end());
    EXPECT_EQ(remaining, expectedRemaining);

    std::vector<std::wstring> reports = FileNames(NormalRoot(), L"prior-unexpected-*");
    std::sort(reports.begin(), reports.end());
    std::vector<std::wstring> expectedReports;
    for (const std::wstring& name : {ended, noNumber, zero}) {
        expectedReports.push_back(L"prior-unexpected-" + diagnostics.runId() + L"-" + name + L".txt");
    }
    std::sort(expectedReports.begin(), expectedReports.end());
    EXPECT_EQ(reports, expectedReports);

    const std::wstring report =
        ReadText(NormalRoot() + L"\\prior-unexpected-" + diagnostics.runId() + L"-" + ended + L".txt");
    const std::vector<std::wstring> lines = SplitCrLfLines(report);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], L"检测到上次非正常中断");
    ASSERT_EQ(lines[1].rfind(L"时间(UTC): ", 0), 0u);
    EXPECT_TRUE(LooksLikeUtcTimestamp(lines[1].substr(9)));
    EXPECT_EQ(lines[2], L"证据: " + sessions + L"\\" + ended);
    EXPECT_EQ(lines[3], L"说明: 上次进程未执行退出代码，可能被强制结束、断电或系统故障；无法伪称准确原因。");
    EXPECT_EQ(lines[4], L"处理: 重新开始即可复用原下载会话与已下载文件。");

    // A second run of this same (living) process leaves the first one's marker alone
    // and finds nothing new to report.
    RunDiagnostics second(LocalAppData());
    EXPECT_TRUE(FileExists(diagnostics.markerPath()));
    EXPECT_EQ(FileNames(NormalRoot(), L"prior-unexpected-*").size(), 3u);
}

TEST_F(PriorTerminationTest, ProcessLiveness) {
    EXPECT_TRUE(ProcessIsRunning(static_cast<long>(::GetCurrentProcessId())));
    EXPECT_FALSE(ProcessIsRunning(static_cast<long>(EndedProcessId())));
    EXPECT_FALSE(ProcessIsRunning(0));
    EXPECT_FALSE(ProcessIsRunning(-4));
}

TEST_F(PriorTerminationTest, MissingSessionsFolderIsNothingToDo) {
    EXPECT_NO_THROW(ScanPriorUnexpected(NormalRoot(), localAppData_ / L"absent", kOldRunId));
    EXPECT_EQ(CountFilesMatching(localAppData_.path(), L"*"), 0);
}

}  // namespace
}  // namespace orivanta::test
