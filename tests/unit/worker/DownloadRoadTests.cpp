// The download end and the paused end, with the interruptions a transfer meets.

#include "WorkerHarness.h"

#include <optional>
#include <thread>

#include "AppStateReset.h"
#include "center/JsonFields.h"
#include "common/Utf.h"
#include "diagnostics/RunDiagnostics.h"
#include "lan/LanDiscovery.h"
#include "state/Edition.h"

namespace orivanta::test {
namespace {

class DownloadRoadTest : public WorkerTest {
protected:
    // A first run whose transfer the node cuts short and then keeps busy, paused while it
    // waits to resume: at once, with everything kept. Returns the session it opened.
    std::string InterruptFirstDownload(std::int64_t cutAfterBytes) {
        const std::string cut = std::to_string(cutAfterBytes);
        center_.SetFaults(R"({"nodeSequence":[{"cutAfterBytes":)" + cut + R"(},{"status":503,"retryAfter":"30"}]})");
        std::optional<DisplaySnapshot> shown;
        onWait_ = [&shown](const DisplaySnapshot& display) {
            if (display.statusText.find(L"30 秒") == std::wstring::npos) return;
            shown = display;
            App().cancelRequested = true;
        };
        const WorkerRun run = RunWorker();
        onWait_ = nullptr;
        EXPECT_EQ(run.outcome(), WorkerOutcome::Paused) << run.detailUtf8();
        const DisplaySnapshot waiting = shown.value_or(DisplaySnapshot{});
        EXPECT_EQ(waiting.statusText, L"网络不稳定，30 秒后自动继续（第 3 次）");
        EXPECT_EQ(waiting.detailText, L"下载节点返回状态 503");
        EXPECT_EQ(waiting.bytesDone, cutAfterBytes) << "the progress bar keeps its place";
        EXPECT_EQ(waited_.count(), 1000 + 100) << "a second after the cut, and one poll of the node's 30 s";
        EXPECT_EQ(JsonStringField(center_.Log("kind=node&last=1"), "Range"), "bytes=" + cut + "-");
        EXPECT_TRUE(FileExists(StatePath()));
        EXPECT_TRUE(HoldsPackagePrefix(PartPath(), cutAfterBytes));
        return JsonStringField(LastStartBody(), "sessionId");
    }

    void ExpectPublishedAndLaunched(const WorkerRun& run) {
        EXPECT_EQ(run.outcome(), WorkerOutcome::Completed) << run.detailUtf8();
        EXPECT_TRUE(HoldsPackage(PublishedPath()));
        EXPECT_FALSE(FileExists(PartPath()));
        EXPECT_FALSE(FileExists(StatePath()));
        EXPECT_TRUE(App().integrityPassed.load());
        EXPECT_TRUE(App().installerLaunched.load());
        EXPECT_TRUE(WaitForLaunchProof(PublishedPath())) << "the published package did not start";
        EXPECT_EQ(run.display.progressPercent, 100);
        EXPECT_EQ(run.display.bytesDone, Package().sizeBytes);
        EXPECT_EQ(run.display.bytesTotal, Package().sizeBytes);
    }
};

TEST_F(DownloadRoadTest, FreshDownloadIsVerifiedPublishedRecordedAndLaunched) {
    const WorkerRun run = RunWorker();
    ExpectPublishedAndLaunched(run);
    EXPECT_EQ(run.display.statusText, L"下载完成");
    EXPECT_EQ(run.display.detailText, L"正在打开保存文件夹并启动安装程序");
    EXPECT_EQ(run.display.saveLocationText, SaveFolder());
    EXPECT_TRUE(App().busy.load()) << "the window, not the worker, clears busy";
    EXPECT_GT(run.refreshes, 3);

    // One counted download, one whole-object request, a new session named in the state.
    EXPECT_EQ(center_.DownloadsCounted(DeviceId()), 1);
    EXPECT_EQ(CountLogEntries("kind=node"), 1);
    EXPECT_EQ(JsonStringField(center_.Log("kind=node"), "Range"), "");
    const std::string start = LastStartBody();
    EXPECT_EQ(JsonIntegerField(start, "resumeOffset"), 0);
    EXPECT_EQ(JsonStringField(start, "deviceId"), DeviceId());
    EXPECT_EQ(JsonStringField(start, "packageType"), "ClientOnly");
    {
        std::lock_guard<std::mutex> lock(App().stateMutex);
        EXPECT_EQ(Utf16ToUtf8(App().sessionId), JsonStringField(start, "sessionId"));
        EXPECT_EQ(App().packageId, Package().packageId);
    }

    const std::string record = ReadBytes(root_ / L"machine\\downloads\\client-latest.txt");
    EXPECT_NE(record.find("source=downloaded-from-center-authorized-url\r\n"), std::string::npos);
    EXPECT_NE(record.find("localPath=" + Utf16ToUtf8(PublishedPath()) + "\r\n"), std::string::npos);
    EXPECT_EQ(CountFilesMatching(root_ / L"machine\\downloads\\history", L"client-*.txt"), 1);

    const std::wstring report = LatestReport();
    EXPECT_NE(report.find(L"分类: Completed\r\n"), std::wstring::npos);
    EXPECT_NE(report.find(L"最后成功检查点: 启动已校验的安装程序\r\n"), std::wstring::npos);
    EXPECT_NE(report.find(L"安装包已完整下载、通过 SHA-256 校验"), std::wstring::npos);
    EXPECT_NE(report.find(L"签名校验: 未配置\r\n"), std::wstring::npos) << "a build without pins says so";
}

TEST_F(DownloadRoadTest, NobodyCanChangeThePackageBetweenItsVerificationAndItsLaunch) {
    std::optional<std::string> tampered;
    beforeLaunch_ = [&tampered](const std::wstring& packagePath) { tampered = TryToTamperWith(packagePath); };
    const WorkerRun run = RunWorker();
    EXPECT_EQ(tampered.value_or("no launch"), "");
    ExpectPublishedAndLaunched(run);
}

TEST_F(DownloadRoadTest, InterruptedTransferResumesInTheSameSessionWithoutASecondDownload) {
    const std::string session = InterruptFirstDownload(100000);
    ASSERT_FALSE(session.empty());
    EXPECT_EQ(center_.DownloadsCounted(DeviceId()), 1);

    const int nodeRequestsBefore = CountLogEntries("kind=node");
    const WorkerRun run = RunWorker();
    ExpectPublishedAndLaunched(run);

    const std::string start = LastStartBody();
    EXPECT_EQ(JsonStringField(start, "sessionId"), session);
    EXPECT_EQ(JsonIntegerField(start, "resumeOffset"), 100000);
    EXPECT_EQ(center_.DownloadsCounted(DeviceId()), 1) << "a resumed session is no new download";
    EXPECT_EQ(CountLogEntries("kind=node"), nodeRequestsBefore + 1);
    const std::string transfer = center_.Log("kind=node&last=1");
    EXPECT_EQ(JsonStringField(transfer, "Range"), "bytes=100000-");
    EXPECT_EQ(JsonIntegerField(transfer, "bytesSent"), Package().sizeBytes - 100000)
        << "only the missing bytes travel";
}

TEST_F(DownloadRoadTest, NodeThatIgnoresTheRangeRestartsTheFileFromTheFirstByte) {
    const std::string session = InterruptFirstDownload(50000);
    center_.SetFaults(R"({"node":{"ignoreRange":true,"times":1}})");

    const WorkerRun run = RunWorker();
    ExpectPublishedAndLaunched(run);
    const std::string transfer = center_.Log("kind=node&last=1");
    EXPECT_EQ(JsonStringField(transfer, "Range"), "bytes=50000-");
    EXPECT_EQ(JsonIntegerField(transfer, "status"), 200);
    EXPECT_EQ(JsonIntegerField(transfer, "bytesSent"), Package().sizeBytes);
    EXPECT_EQ(JsonStringField(LastStartBody(), "sessionId"), session);
}

TEST_F(DownloadRoadTest, CorruptedByteFailsVerificationAndTheRetryFetchesAFreshCopy) {
    center_.SetFaults(R"({"node":{"corruptOffset":1000,"times":1}})");
    const WorkerRun failed = RunWorker();
    EXPECT_EQ(failed.outcome(), WorkerOutcome::Failed);
    EXPECT_EQ(failed.display.statusText, L"下载未完成");
    EXPECT_EQ(failed.display.detailText, L"SHA-256 integrity verification failed");
    EXPECT_FALSE(App().integrityPassed.load());
    EXPECT_FALSE(FileExists(PublishedPath()));
    // The complete but wrong file is gone; the session stays for the retry.
    EXPECT_FALSE(FileExists(PartPath()));
    EXPECT_TRUE(FileExists(StatePath()));
    EXPECT_TRUE(App().busy.load()) << "the window, not the worker, clears busy";
    const std::string session = JsonStringField(LastStartBody(), "sessionId");

    const WorkerRun retry = RunWorker();
    ExpectPublishedAndLaunched(retry);
    const std::string start = LastStartBody();
    EXPECT_EQ(JsonStringField(start, "sessionId"), session);
    EXPECT_EQ(JsonIntegerField(start, "resumeOffset"), 0);
    const std::string transfer = center_.Log("kind=node&last=1");
    EXPECT_EQ(JsonIntegerField(transfer, "status"), 200);
    EXPECT_EQ(JsonStringField(transfer, "Range"), "");
}

TEST_F(DownloadRoadTest, CompletePartFileIsVerifiedWithoutFetchingAgain) {
    CreateCacheFolders();
    const std::wstring session = L"6B29FC40-CA47-1067-B31D-00DD010662DA";
    center_.SeedSession(R"({"deviceId":")" + DeviceId() + R"(","sessionId":")" + SessionIdUtf8(session) +
                        R"(","packageType":"ClientOnly"})");
    WriteSessionFile(StatePath(), session);
    WriteBytes(PartPath(), PackageBytes());

    const WorkerRun run = RunWorker();
    ExpectPublishedAndLaunched(run);
    EXPECT_EQ(CountLogEntries("kind=node"), 0);
    EXPECT_EQ(JsonIntegerField(LastStartBody(), "resumeOffset"), Package().sizeBytes);
    EXPECT_EQ(center_.DownloadsCounted(DeviceId()), 0);
}

TEST_F(DownloadRoadTest, PauseDuringVerificationKeepsTheCompleteFileForTheNextRun) {
    CreateCacheFolders();
    const std::wstring session = L"0F8FAD5B-D9CB-469F-A165-70867728950E";
    center_.SeedSession(R"({"deviceId":")" + DeviceId() + R"(","sessionId":")" + SessionIdUtf8(session) +
                        R"(","packageType":"ClientOnly"})");
    WriteSessionFile(StatePath(), session);
    WriteBytes(PartPath(), PackageBytes());

    // The pause arrives after the start, just before the hashing.
    const FreeSpaceProbe pauseThenAnswer = [](const std::wstring&, std::uint64_t& freeBytes) {
        App().cancelRequested = true;
        freeBytes = ~std::uint64_t{0};
        return true;
    };
    const WorkerRun paused = RunWorker(pauseThenAnswer);
    EXPECT_EQ(paused.outcome(), WorkerOutcome::Paused) << paused.detailUtf8();
    EXPECT_EQ(paused.display.statusText, L"下载已暂停");
    EXPECT_EQ(paused.display.detailText, L"已保存进度，继续下载不会增加次数");
    EXPECT_FALSE(InstalledDiagnostics().finished()) << "a pause writes no report";
    EXPECT_TRUE(HoldsPackage(PartPath()));
    EXPECT_TRUE(FileExists(StatePath()));
    EXPECT_FALSE(App().integrityPassed.load());

    const WorkerRun resumed = RunWorker();
    ExpectPublishedAndLaunched(resumed);
    EXPECT_EQ(CountLogEntries("kind=node"), 0);
    EXPECT_EQ(center_.DownloadsCounted(DeviceId()), 0);
}

TEST_F(DownloadRoadTest, PauseDuringTheTransferKeepsProgressAndResumesWhereItStopped) {
    center_.SetFaults(R"({"node":{"throttleBytesPerSecond":65536}})");
    const WorkerRun paused = RunWorker([] {
        if (App().bytesDone.load() > 0) App().cancelRequested = true;
    });
    EXPECT_EQ(paused.outcome(), WorkerOutcome::Paused);
    EXPECT_EQ(paused.display.statusText, L"下载已暂停");
    EXPECT_EQ(paused.display.detailText, L"已保存进度，继续下载不会增加次数");
    EXPECT_TRUE(FileExists(StatePath()));
    const std::int64_t kept = static_cast<std::int64_t>(ReadBytes(PartPath()).size());
    ASSERT_GT(kept, 0);
    ASSERT_LT(kept, Package().sizeBytes);
    EXPECT_TRUE(HoldsPackagePrefix(PartPath(), kept));
    EXPECT_EQ(paused.display.bytesDone, kept);
    EXPECT_TRUE(App().busy.load()) << "the window, not the worker, clears busy";
    EXPECT_FALSE(InstalledDiagnostics().finished()) << "a pause writes no report";
    const std::string session = JsonStringField(LastStartBody(), "sessionId");

    center_.SetFaults(R"({"node":null})");
    const WorkerRun resumed = RunWorker();
    ExpectPublishedAndLaunched(resumed);
    const std::string start = LastStartBody();
    EXPECT_EQ(JsonStringField(start, "sessionId"), session);
    EXPECT_EQ(JsonIntegerField(start, "resumeOffset"), kept);
    EXPECT_EQ(JsonStringField(center_.Log("kind=node&last=1"), "Range"), "bytes=" + std::to_string(kept) + "-");
    EXPECT_EQ(center_.DownloadsCounted(DeviceId()), 1);
}

TEST_F(DownloadRoadTest, NodeSendingMoreThanThePackageNeverGrowsThePartFileBeyondIt) {
    center_.SetFaults(R"({"node":{"extraBytes":300000,"times":1}})");
    const WorkerRun failed = RunWorker();
    EXPECT_EQ(failed.outcome(), WorkerOutcome::Failed);
    EXPECT_EQ(failed.display.detailText.rfind(L"下载节点发送的数据超出安装包大小", 0), 0u) << failed.detailUtf8();
    EXPECT_LE(static_cast<std::int64_t>(ReadBytes(PartPath()).size()), Package().sizeBytes);

    ExpectPublishedAndLaunched(RunWorker());
}

TEST_F(DownloadRoadTest, RangeAnswerStartingElsewhereAppendsNothing) {
    const std::string session = InterruptFirstDownload(100000);
    for (const int shift : {5000, -3000}) {
        center_.SetFaults(R"({"node":{"rangeShift":)" + std::to_string(shift) + R"(,"times":1}})");
        const WorkerRun failed = RunWorker();
        EXPECT_EQ(failed.outcome(), WorkerOutcome::Failed);
        EXPECT_EQ(failed.display.detailText.rfind(L"下载节点返回的续传范围与请求不符", 0), 0u) << failed.detailUtf8();
        EXPECT_NE(failed.display.detailText.find(L"100000"), std::wstring::npos) << "names the requested start";
        EXPECT_TRUE(HoldsPackagePrefix(PartPath(), 100000));
    }

    ExpectPublishedAndLaunched(RunWorker());
    EXPECT_EQ(JsonStringField(LastStartBody(), "sessionId"), session);
}

TEST_F(DownloadRoadTest, CallBrokenOffByTheCloseEndsTheRunWithoutAFailure) {
    App().autoStart = true;
    center_.Queue(R"({"operation":"prepare","status":200,"delayMs":3000,"body":{}})");
    std::thread closer([] {
        ::Sleep(500);
        App().cancelRequested = true;
        App().networkAbort.Abort();
    });
    const WorkerRun run = RunWorker();
    closer.join();
    EXPECT_EQ(run.outcome(), WorkerOutcome::Paused);
    EXPECT_EQ(App().exitCode.load(), 0);
    EXPECT_FALSE(InstalledDiagnostics().finished()) << "the close reports the run, not the worker";
}

TEST_F(DownloadRoadTest, HostFoundDuringAServerDownloadPausesItAndKeepsItsFiles) {
    {
        std::lock_guard<std::mutex> lock(App().stateMutex);
        App().edition = Edition::Server;
    }
    center_.SetFaults(R"({"node":{"throttleBytesPerSecond":65536}})");
    const WorkerRun paused = RunWorker([] {
        if (App().bytesDone.load() > 0 && !App().cancelRequested) PublishLanResult({true, L"192.168.1.20"});
    });
    EXPECT_EQ(paused.outcome(), WorkerOutcome::Paused) << paused.detailUtf8();
    EXPECT_TRUE(FileExists(root_ / L"cache\\server.state"));
    const std::int64_t kept = static_cast<std::int64_t>(ReadBytes(root_ / L"packages\\.cache\\server.part").size());
    EXPECT_GT(kept, 0);
    EXPECT_EQ(paused.display.bytesDone, kept);
    EXPECT_FALSE(FileExists(root_ / L"machine\\downloads\\server-latest.txt"));
}

TEST_F(DownloadRoadTest, PartFileWithoutASessionIsNeverResumed) {
    CreateCacheFolders();
    WriteBytes(PartPath(), PackageBytes().substr(0, 4096));
    const WorkerRun run = RunWorker();
    ExpectPublishedAndLaunched(run);
    EXPECT_EQ(JsonIntegerField(LastStartBody(), "resumeOffset"), 0);
    EXPECT_EQ(JsonStringField(center_.Log("kind=node"), "Range"), "");
}

}  // namespace
}  // namespace orivanta::test
