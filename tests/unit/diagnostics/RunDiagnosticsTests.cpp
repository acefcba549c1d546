#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

#include "DiagnosticsTestSupport.h"
#include "common/Folders.h"
#include "diagnostics/RunDiagnostics.h"
#include "state/AppState.h"

namespace orivanta::test {
namespace {

using RunDiagnosticsTest = DiagnosticsTest;

std::wstring LastLine(const std::wstring& text) { return SplitCrLfLines(text).back(); }

void ExpectMarker(const std::wstring& path, const std::wstring& firstKey, const std::wstring& stage) {
    const std::string bytes = ReadBytes(path);
    ASSERT_FALSE(bytes.empty()) << "marker missing";
    EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF") << "marker starts with a byte-order mark";
    const std::vector<std::wstring> lines = SplitCrLfLines(ReadText(path));
    ASSERT_EQ(lines.size(), 2u);
    ASSERT_EQ(lines[0].rfind(firstKey + L"=", 0), 0u) << "first line: " << testing::PrintToString(lines[0]);
    EXPECT_TRUE(LooksLikeUtcTimestamp(lines[0].substr(firstKey.size() + 1)));
    EXPECT_EQ(lines[1], L"stage=" + stage);
}

TEST_F(RunDiagnosticsTest, MarkerStartsWithStartedAndHeartbeatReplacesIt) {
    RunDiagnostics diagnostics(LocalAppData());
    EXPECT_EQ(diagnostics.reportRoot(), NormalRoot());
    EXPECT_EQ(diagnostics.runId().size(), 36u);
    EXPECT_EQ(diagnostics.markerPath(), NormalRoot() + L"\\sessions\\" + std::to_wstring(::GetCurrentProcessId()) +
                                            L"-" + diagnostics.runId() + L".running");
    ExpectMarker(diagnostics.markerPath(), L"started", L"建立本地退出报告");

    diagnostics.Heartbeat(L"读取本机设备标识");
    ExpectMarker(diagnostics.markerPath(), L"heartbeat", L"读取本机设备标识");
    diagnostics.Heartbeat(L"向中心检查当前最新版安装包");
    ExpectMarker(diagnostics.markerPath(), L"heartbeat", L"向中心检查当前最新版安装包");
    EXPECT_EQ(CountFilesMatching(NormalRoot() + L"\\sessions", L"*.tmp"), 0);
}

TEST_F(RunDiagnosticsTest, FinishWritesOneReportDeletesMarkerAndLaterCallsDoNothing) {
    auto diagnostics = std::make_unique<RunDiagnostics>(LocalAppData());
    const std::wstring runId = diagnostics->runId();
    const std::wstring marker = diagnostics->markerPath();
    diagnostics->Heartbeat(L"诊断：正常退出");

    EXPECT_TRUE(diagnostics->Finish(L"Completed", 0, L"诊断验证按预期正常完成。", L"无需处理。", L""));
    EXPECT_FALSE(FileExists(marker));
    const std::wstring perRun = NormalRoot() + L"\\exit-" + runId + L".txt";
    const std::string bytes = ReadBytes(perRun);
    EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
    const std::wstring report = ReadText(perRun);
    EXPECT_EQ(ReadText(NormalRoot() + L"\\latest-exit.txt"), report);
    const std::vector<std::wstring> lines = SplitCrLfLines(report);
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(lines[3], L"会话: " + runId);
    EXPECT_EQ(lines[4], L"进程: " + std::to_wstring(::GetCurrentProcessId()));
    EXPECT_EQ(lines[5], std::wstring(L"架构: ") + ORIVANTA_ARCH_TEXT);
    EXPECT_EQ(lines[6], L"分类: Completed");
    EXPECT_EQ(lines[8], L"执行阶段: 诊断：正常退出");
    EXPECT_EQ(lines[18], L"最后成功检查点: 诊断：正常退出");
    EXPECT_EQ(lines.back(), L"证据路径: " + NormalRoot());

    // Neither a late checkpoint nor the controlled stop may add anything.
    diagnostics->Heartbeat(L"下载或启动失败，等待用户重试");
    EXPECT_FALSE(FileExists(marker)) << "a late checkpoint recreated the marker";
    EXPECT_FALSE(diagnostics->Finish(L"UserCancelled", 0, L"r", L"m", L""));
    diagnostics.reset();
    EXPECT_EQ(ReadText(NormalRoot() + L"\\latest-exit.txt"), report);
    EXPECT_EQ(CountFilesMatching(NormalRoot(), L"exit-*.txt"), 1);
}

TEST_F(RunDiagnosticsTest, DestructionIsTheControlledStop) {
    std::wstring marker;
    {
        RunDiagnostics diagnostics(LocalAppData());
        marker = diagnostics.markerPath();
    }
    EXPECT_FALSE(FileExists(marker));
    const std::vector<std::wstring> lines = SplitCrLfLines(ReadText(NormalRoot() + L"\\latest-exit.txt"));
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(lines[6], L"分类: ControlledStop");
    EXPECT_EQ(lines[7], L"退出码: 0");
    EXPECT_EQ(lines[8], L"执行阶段: 建立本地退出报告");
    EXPECT_EQ(lines[9], L"原因: 程序窗口已正常关闭。");
    EXPECT_EQ(lines[10], L"人工处理: 无需处理；未完成文件已保留，可再次打开继续下载。");
    EXPECT_EQ(lines[14], L"稳定代码位置: OrivantaInstaller::wWinMain/process-boundary");
}

TEST_F(RunDiagnosticsTest, ReportReadsTheSharedState) {
    AppState& app = App();
    {
        std::lock_guard<std::mutex> guard(app.stateMutex);
        app.edition = Edition::Client;
        app.sessionId = L"3F2504E0-4F89-11D3-9A0C-0305E82C3301";
        app.packageId = "pkg-42";
    }
    app.bytesDone = 1024;
    app.bytesTotal = 4096;
    app.busy = true;
    app.cancelRequested = true;
    app.windowsNetworkReady = true;
    RunDiagnostics diagnostics(LocalAppData());
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    diagnostics.Finish(L"UserCancelled", 0, L"r", L"m", L"");
    const std::vector<std::wstring> lines = SplitCrLfLines(ReadText(NormalRoot() + L"\\latest-exit.txt"));
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(lines[12], L"下载类型: 仅客户端版");
    EXPECT_EQ(lines[13], L"最后进度: 1024 / 4096 字节");
    EXPECT_EQ(lines[14], L"稳定代码位置: OrivantaInstaller::Worker");
    EXPECT_EQ(lines[15], L"关键状态: busy=true, cancelRequested=true, integrityPassed=false, installerLaunched=false");
    EXPECT_EQ(lines[16], L"数据标识: sessionId=3F2504E0-4F89-11D3-9A0C-0305E82C3301, packageId=pkg-42");
    EXPECT_EQ(lines[17], L"依赖状态: WindowsNetwork=已初始化, CenterApi=尚未收到响应");
    EXPECT_EQ(lines[19].rfind(L"最后系统错误: ", 0), 0u);
    EXPECT_NE(lines[19].find(L" (2)"), std::wstring::npos) << "the caller's last error is printed";
}

TEST_F(RunDiagnosticsTest, ForcingVariableSelectsFallbackRootUnlessEmpty) {
    ::SetEnvironmentVariableW(L"ORIVANTA_DIAGNOSTIC_REPORT_ROOT_INVALID", L"1");
    {
        RunDiagnostics diagnostics(LocalAppData());
        EXPECT_EQ(diagnostics.reportRoot(), FallbackRoot());
        EXPECT_TRUE(FileExists(diagnostics.markerPath()));
        EXPECT_EQ(diagnostics.markerPath().rfind(FallbackRoot() + L"\\sessions\\", 0), 0u);
    }
    EXPECT_EQ(CountFilesMatching(FallbackRoot(), L"exit-*.txt"), 1);
    EXPECT_FALSE(DirectoryExists(NormalRoot()));

    // Longer than the four-character buffer the variable is read into.
    ::SetEnvironmentVariableW(L"ORIVANTA_DIAGNOSTIC_REPORT_ROOT_INVALID", L"yes-please");
    EXPECT_EQ(RunDiagnostics(LocalAppData()).reportRoot(), FallbackRoot());

    ::SetEnvironmentVariableW(L"ORIVANTA_DIAGNOSTIC_REPORT_ROOT_INVALID", L"");
    EXPECT_EQ(RunDiagnostics(LocalAppData()).reportRoot(), NormalRoot());
}

TEST_F(RunDiagnosticsTest, UncreatableNormalRootFallsBack) {
    // A file where the "Orivanta" folder belongs: the normal root can never be made.
    WriteBytes(localAppData_ / L"Orivanta", "in the way");
    RunDiagnostics diagnostics(LocalAppData());
    EXPECT_EQ(diagnostics.reportRoot(), FallbackRoot());
    EXPECT_TRUE(FileExists(diagnostics.markerPath()));
}

TEST_F(RunDiagnosticsTest, ConstructionFailsWhenNoRootCanBeMade) {
    WriteBytes(localAppData_ / L"Orivanta", "in the way");
    WriteBytes(localAppData_ / L"Temp", "in the way");
    try {
        RunDiagnostics diagnostics(LocalAppData());
        FAIL() << "constructed without a report root";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "create directory failed");
    }
    try {
        RunDiagnostics diagnostics([]() -> std::wstring { throw std::runtime_error("known folder failed"); });
        FAIL() << "constructed without a local application data folder";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "known folder failed");
    }
}

TEST_F(RunDiagnosticsTest, RootGoneSendsReportToFallbackLatestOnly) {
    RunDiagnostics diagnostics(LocalAppData());
    diagnostics.Heartbeat(L"校验安装包 SHA-256");
    // Under Wine a read-only folder still takes writes; a file standing where the
    // root folder was makes every write into it fail for real.
    RemoveTree(NormalRoot());
    WriteBytes(NormalRoot(), "not a folder");

    EXPECT_TRUE(diagnostics.Finish(L"UserCancelled", 0, L"r", L"m", L""));
    EXPECT_FALSE(FileExists(NormalRoot() + L"\\exit-" + diagnostics.runId() + L".txt"));
    const std::wstring fallbackReport = ReadText(FallbackRoot() + L"\\latest-exit.txt");
    ASSERT_FALSE(fallbackReport.empty());
    EXPECT_NE(fallbackReport.find(L"\r\n分类: UserCancelled\r\n"), std::wstring::npos);
    EXPECT_NE(fallbackReport.find(L"\r\n执行阶段: 校验安装包 SHA-256\r\n"), std::wstring::npos);
    EXPECT_EQ(LastLine(fallbackReport), L"证据路径: " + NormalRoot()) << "the text names the first root";
    EXPECT_EQ(FileNames(FallbackRoot(), L"*"), std::vector<std::wstring>{L"latest-exit.txt"});
}

TEST_F(RunDiagnosticsTest, UnwritablePerRunFileSkipsLatestAndUsesFallback) {
    RunDiagnostics diagnostics(LocalAppData());
    // A non-empty folder of the per-run file's name: nothing can be moved over it.
    EnsureDirectory(NormalRoot() + L"\\exit-" + diagnostics.runId() + L".txt");
    WriteBytes(NormalRoot() + L"\\exit-" + diagnostics.runId() + L".txt\\keep", "x");
    diagnostics.Finish(L"Completed", 0, L"r", L"m", L"");
    EXPECT_FALSE(FileExists(diagnostics.markerPath()));
    EXPECT_FALSE(FileExists(NormalRoot() + L"\\latest-exit.txt"));
    EXPECT_NE(ReadText(FallbackRoot() + L"\\latest-exit.txt").find(L"\r\n分类: Completed\r\n"), std::wstring::npos);
}

TEST_F(RunDiagnosticsTest, UnwritableLatestFileAlsoUsesFallback) {
    RunDiagnostics diagnostics(LocalAppData());
    EnsureDirectory(NormalRoot() + L"\\latest-exit.txt");
    WriteBytes(NormalRoot() + L"\\latest-exit.txt\\keep", "x");
    diagnostics.Finish(L"Completed", 0, L"r", L"m", L"");
    const std::wstring perRun = ReadText(NormalRoot() + L"\\exit-" + diagnostics.runId() + L".txt");
    ASSERT_FALSE(perRun.empty());
    EXPECT_EQ(ReadText(FallbackRoot() + L"\\latest-exit.txt"), perRun);
}

TEST_F(RunDiagnosticsTest, ReportWrittenNowhereIsContained) {
    RunDiagnostics diagnostics(LocalAppData());
    EnsureDirectory(NormalRoot() + L"\\exit-" + diagnostics.runId() + L".txt");
    WriteBytes(NormalRoot() + L"\\exit-" + diagnostics.runId() + L".txt\\keep", "x");
    WriteBytes(localAppData_ / L"Temp", "in the way");

    EXPECT_NO_THROW(diagnostics.Finish(L"UnhandledException", 2, L"r", L"m", L"chain"));
    EXPECT_TRUE(diagnostics.finished());
    EXPECT_FALSE(FileExists(diagnostics.markerPath())) << "an orderly end must not look like a crash";
    EXPECT_FALSE(diagnostics.Finish(L"Completed", 0, L"r", L"m", L""));
}

TEST_F(RunDiagnosticsTest, RacingFinishersWriteExactlyOneReport) {
    constexpr int kRounds = 40;
    const wchar_t* const classifications[] = {L"Completed", L"UserCancelled", L"UnhandledException", L"ControlledStop"};
    for (int round = 0; round < kRounds; ++round) {
        RunDiagnostics diagnostics(LocalAppData());
        std::atomic<int> ready{0};
        std::atomic<int> winners{0};
        std::wstring winner;
        std::vector<std::thread> threads;
        for (const wchar_t* classification : classifications) {
            threads.emplace_back([&, classification] {
                ++ready;
                while (ready < 5) {
                }
                if (diagnostics.Finish(classification, 0, L"r", L"m", L"")) {
                    ++winners;
                    winner = classification;
                }
            });
        }
        threads.emplace_back([&] {
            ++ready;
            while (ready < 5) {
            }
            for (int i = 0; i < 20; ++i) diagnostics.Heartbeat(L"从阿里云 OSS 下载安装包");
        });
        for (std::thread& thread : threads) thread.join();

        ASSERT_EQ(winners.load(), 1) << "round " << round;
        EXPECT_FALSE(FileExists(diagnostics.markerPath())) << "round " << round;
        const std::wstring report = ReadText(NormalRoot() + L"\\exit-" + diagnostics.runId() + L".txt");
        EXPECT_NE(report.find(L"\r\n分类: " + winner + L"\r\n"), std::wstring::npos) << "round " << round;
        EXPECT_EQ(ReadText(NormalRoot() + L"\\latest-exit.txt"), report);
    }
    EXPECT_EQ(CountFilesMatching(NormalRoot(), L"exit-*.txt"), kRounds);
    EXPECT_EQ(CountFilesMatching(NormalRoot() + L"\\sessions", L"*"), 0);
}

}  // namespace
}  // namespace orivanta::test
