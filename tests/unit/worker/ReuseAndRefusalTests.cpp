// The reuse end, the session decision and the failure end with each of its texts.

#include "WorkerHarness.h"

#include <optional>
#include <vector>

#include "AppStateReset.h"
#include "center/JsonFields.h"
#include "common/Folders.h"
#include "common/HeldFolders.h"
#include "common/Utf.h"
#include "diagnostics/RunDiagnostics.h"
#include "identity/Sha256.h"
#include "state/Edition.h"
#include "storage/PackageRecords.h"

namespace orivanta::test {
namespace {

constexpr std::uint64_t kHeadroom = 104857600;
const std::wstring kSavedSession = L"7C9E6679-7425-40DE-944B-E07FC1F90AE7";

class ReuseAndRefusalTest : public WorkerTest {
protected:
    std::wstring LocalCopyPath() { return PublishedPath(); }

    void PlaceLocalCopy() {
        EnsureDirectory(SaveFolder());
        WriteBytes(LocalCopyPath(), PackageBytes());
    }

    // A session the center knows, with the first bytes already on disk.
    void LeaveResumableSession(std::int64_t bytes) {
        CreateCacheFolders();
        center_.SeedSession(R"({"deviceId":")" + DeviceId() + R"(","sessionId":")" + SessionIdUtf8(kSavedSession) +
                            R"(","packageType":"ClientOnly","servedEnd":)" + std::to_string(bytes) + "}");
        WriteSessionFile(StatePath(), kSavedSession);
        WriteBytes(PartPath(), PackageBytes().substr(0, static_cast<size_t>(bytes)));
    }

    WorkerRun ExpectFailure(const std::wstring& detail, const FreeSpaceProbe& freeSpace = {}) {
        WorkerRun run = RunWorker(freeSpace);
        EXPECT_EQ(run.outcome(), WorkerOutcome::Failed);
        EXPECT_EQ(run.display.statusText, L"下载未完成");
        EXPECT_EQ(run.display.detailText, detail) << run.detailUtf8();
        EXPECT_TRUE(App().busy.load()) << "the window, not the worker, clears busy";
        EXPECT_FALSE(App().installerLaunched.load());
        return run;
    }

    std::int64_t ReusesCounted() { return JsonIntegerField(center_.Counters(DeviceId()), "reuses"); }
};

TEST_F(ReuseAndRefusalTest, IdenticalLocalPackageIsReusedWithoutASession) {
    PlaceLocalCopy();
    CreateCacheFolders();
    WriteSessionFile(StatePath(), kSavedSession);
    WriteBytes(PartPath(), "half-finished");

    const WorkerRun run = RunWorker();
    EXPECT_EQ(run.outcome(), WorkerOutcome::Completed) << run.detailUtf8();
    EXPECT_EQ(run.display.statusText, L"已找到相同安装包");
    EXPECT_EQ(run.display.detailText, L"无需重复下载，正在打开文件夹并启动");
    EXPECT_EQ(run.display.progressPercent, 100);
    EXPECT_EQ(run.display.bytesDone, Package().sizeBytes);
    EXPECT_TRUE(App().integrityPassed.load());
    EXPECT_TRUE(App().installerLaunched.load());
    EXPECT_TRUE(WaitForLaunchProof(LocalCopyPath()));
    EXPECT_FALSE(FileExists(StatePath()));
    EXPECT_FALSE(FileExists(PartPath()));

    EXPECT_EQ(CountLogEntries("kind=api&operation=start"), 0);
    EXPECT_EQ(CountLogEntries("kind=node"), 0);
    EXPECT_EQ(ReusesCounted(), 1);
    EXPECT_EQ(center_.DownloadsCounted(DeviceId()), 0);
    {
        std::lock_guard<std::mutex> lock(App().stateMutex);
        EXPECT_TRUE(App().sessionId.empty());
    }
    const std::string record = ReadBytes(root_ / L"machine\\downloads\\client-latest.txt");
    EXPECT_NE(record.find("source=existing-file-reused\r\n"), std::string::npos);
    const std::wstring report = LatestReport();
    EXPECT_NE(report.find(L"分类: Completed\r\n"), std::wstring::npos);
    EXPECT_NE(report.find(L"最后成功检查点: 复用已通过 SHA-256 校验的本机安装包\r\n"), std::wstring::npos);
}

TEST_F(ReuseAndRefusalTest, NobodyCanChangeTheReusedPackageBetweenItsVerificationAndItsLaunch) {
    PlaceLocalCopy();
    std::optional<std::string> tampered;
    beforeLaunch_ = [&tampered](const std::wstring& packagePath) { tampered = TryToTamperWith(packagePath); };
    const WorkerRun run = RunWorker();
    EXPECT_EQ(run.outcome(), WorkerOutcome::Completed) << run.detailUtf8();
    EXPECT_EQ(tampered.value_or("no launch"), "");
    EXPECT_TRUE(HoldsPackage(LocalCopyPath()));
    EXPECT_TRUE(WaitForLaunchProof(LocalCopyPath())) << "the verified copy did not start";
    EXPECT_EQ(ReusesCounted(), 1);
}

TEST_F(ReuseAndRefusalTest, RecordNamingACopyOutsideOurFoldersIsNotReused) {
    const CenterPackage package = Package();
    const std::wstring elsewhere = root_ / L"elsewhere";
    EnsureDirectory(elsewhere);
    const std::wstring copy = elsewhere + L"\\" + Utf8ToUtf16(package.fileName);
    WriteBytes(copy, PackageBytes());
    PackageMetadata metadata;
    metadata.packageId = package.packageId;
    metadata.fileName = package.fileName;
    metadata.sha256 = package.sha256;
    metadata.sizeBytes = package.sizeBytes;
    SaveDownloadRecord(metadata, copy, kSourceDownloaded, Edition::Client, root_.path());

    const WorkerRun run = RunWorker();
    EXPECT_EQ(run.outcome(), WorkerOutcome::Completed) << run.detailUtf8();
    EXPECT_EQ(ReusesCounted(), 0);
    EXPECT_EQ(CountLogEntries("kind=api&operation=start"), 1);
    EXPECT_EQ(center_.DownloadsCounted(DeviceId()), 1);
    EXPECT_TRUE(HoldsPackage(PublishedPath()));
    EXPECT_TRUE(WaitForLaunchProof(PublishedPath()));
}

TEST_F(ReuseAndRefusalTest, PauseDuringTheLocalLookupEndsBeforeTheStart) {
    PlaceLocalCopy();
    const WorkerRun run = RunWorker({}, {}, true);
    EXPECT_EQ(run.outcome(), WorkerOutcome::Paused) << run.detailUtf8();
    EXPECT_EQ(run.display.statusText, L"下载已暂停");
    EXPECT_EQ(CountLogEntries("kind=api&operation=reuse"), 0);
    EXPECT_EQ(CountLogEntries("kind=api&operation=start"), 0);
    EXPECT_EQ(center_.DownloadsCounted(DeviceId()), 0);
    EXPECT_FALSE(FileExists(StatePath())) << "no session was opened";
    EXPECT_FALSE(App().installerLaunched.load());
}

TEST_F(ReuseAndRefusalTest, ReuseRefusedAsNoLongerCurrentPreparesOnceMore) {
    PlaceLocalCopy();
    center_.QueueAnswer("reuse", 409, R"({"errorCode":"INSTALLER_PACKAGE_NO_LONGER_CURRENT"})");

    const WorkerRun run = RunWorker();
    EXPECT_EQ(run.outcome(), WorkerOutcome::Completed) << run.detailUtf8();
    EXPECT_EQ(CountLogEntries("kind=api&operation=prepare"), 2);
    EXPECT_EQ(CountLogEntries("kind=api&operation=reuse"), 2);
    EXPECT_EQ(CountLogEntries("kind=api&operation=start"), 0);
    EXPECT_EQ(ReusesCounted(), 1);
}

TEST_F(ReuseAndRefusalTest, NewerPackageFoundOnTheSecondPrepareIsDownloaded) {
    // The first prepare still names an older package, which is on disk; the center
    // has moved on when asked to record the reuse.
    const std::string old = "an older release of the package";
    EnsureDirectory(SaveFolder());
    WriteBytes(SaveFolder() + L"\\OrivantaSetup-old.exe", old);
    center_.QueueAnswer("prepare", 200,
                        R"({"packageId":"clientonly-old","versionName":"1.0","fileName":"OrivantaSetup-old.exe",)"
                        R"("sha256":")" + Sha256Hex(old) + R"(","sizeBytes":)" + std::to_string(old.size()) +
                            R"(,"isAllowed":true,"rejectionReason":""})");

    const WorkerRun run = RunWorker();
    EXPECT_EQ(run.outcome(), WorkerOutcome::Completed) << run.detailUtf8();
    EXPECT_EQ(CountLogEntries("kind=api&operation=prepare"), 2);
    EXPECT_EQ(CountLogEntries("kind=api&operation=reuse"), 1);
    EXPECT_EQ(CountLogEntries("kind=api&operation=start"), 1);
    EXPECT_TRUE(HoldsPackage(PublishedPath()));
    EXPECT_TRUE(WaitForLaunchProof(PublishedPath()));
    EXPECT_EQ(center_.DownloadsCounted(DeviceId()), 1);
}

TEST_F(ReuseAndRefusalTest, ReuseRefusedTwiceEndsTheRun) {
    PlaceLocalCopy();
    center_.Queue(R"({"operation":"reuse","status":409,"body":{"errorCode":"INSTALLER_PACKAGE_NO_LONGER_CURRENT"},)"
                  R"("times":2})");
    ExpectFailure(L"中心未能确认本地安装包仍是最新版");
    EXPECT_EQ(CountLogEntries("kind=api&operation=prepare"), 2);
    EXPECT_EQ(CountLogEntries("kind=api&operation=start"), 0);
    EXPECT_TRUE(HoldsPackage(LocalCopyPath()));

    center_.QueueAnswer("reuse", 200, R"({"recorded":false})");
    ExpectFailure(L"中心未能确认本地安装包仍是最新版");
    center_.QueueAnswer("reuse", 503, R"({"message":"中心正在维护，请稍后再试"})");
    ExpectFailure(L"中心正在维护，请稍后再试");
}

TEST_F(ReuseAndRefusalTest, OffsetTheCenterDoesNotKnowIsDiscardedAndTheDownloadStartsOver) {
    CreateCacheFolders();
    WriteSessionFile(StatePath(), kSavedSession);
    WriteBytes(PartPath(), PackageBytes().substr(0, 1000));

    const WorkerRun run = RunWorker();
    EXPECT_EQ(run.outcome(), WorkerOutcome::Completed) << run.detailUtf8();
    ASSERT_EQ(CountLogEntries("kind=api&operation=start"), 2);
    const std::string first = FirstStartBody();
    const std::string second = LastStartBody();
    EXPECT_EQ(JsonIntegerField(first, "resumeOffset"), 1000);
    EXPECT_EQ(JsonIntegerField(second, "resumeOffset"), 0);
    EXPECT_EQ(JsonStringField(first, "sessionId"), SessionIdUtf8(kSavedSession));
    EXPECT_EQ(JsonStringField(second, "sessionId"), SessionIdUtf8(kSavedSession));
    EXPECT_EQ(JsonStringField(center_.Log("kind=node"), "Range"), "");
    EXPECT_TRUE(HoldsPackage(PublishedPath()));
}

TEST_F(ReuseAndRefusalTest, RefusedDownloadWithoutASavedSessionShowsTheReason) {
    center_.SetFaults(R"({"refusePrepare":true,"rejectionReason":""})");
    ExpectFailure(L"这台电脑已达到下载次数上限，请联系欧瑞凡达客服 400-100-200。");
    EXPECT_EQ(CountLogEntries("kind=api&operation=start"), 0);
    EXPECT_FALSE(FileExists(StatePath()));

    center_.SetFaults(R"({"rejectionReason":"本机未获授权下载该版本"})");
    ExpectFailure(L"本机未获授权下载该版本");
}

TEST_F(ReuseAndRefusalTest, RefusedDownloadWithASavedSessionStillResumes) {
    LeaveResumableSession(2000);
    center_.SetFaults(R"({"refusePrepare":true})");

    const WorkerRun run = RunWorker();
    EXPECT_EQ(run.outcome(), WorkerOutcome::Completed) << run.detailUtf8();
    const std::string start = LastStartBody();
    EXPECT_EQ(JsonStringField(start, "sessionId"), SessionIdUtf8(kSavedSession));
    EXPECT_EQ(JsonIntegerField(start, "resumeOffset"), 2000);
    EXPECT_EQ(center_.DownloadsCounted(DeviceId()), 0);
    EXPECT_TRUE(HoldsPackage(PublishedPath()));
}

TEST_F(ReuseAndRefusalTest, DeviceLimitRefusalNamesTheHotline) {
    CreateCacheFolders();
    WriteSessionFile(StatePath(), kSavedSession);
    center_.SetFaults(R"({"deviceLimit":0})");
    ExpectFailure(L"这台电脑已达到下载次数上限。 请联系欧瑞凡达客服 400-100-200。");
    EXPECT_TRUE(FileExists(StatePath())) << "a refused start keeps the session for later";

    center_.SetFaults(R"({"limitMessage":""})");
    ExpectFailure(L"中心未批准本次下载 请联系欧瑞凡达客服 400-100-200。");
}

TEST_F(ReuseAndRefusalTest, FreeSpaceMustCoverTheMissingBytesAndTheHeadroom) {
    const std::uint64_t size = static_cast<std::uint64_t>(Package().sizeBytes);
    ExpectFailure(L"insufficient disk space for installer package", FixedFreeSpace(size + kHeadroom - 1));
    EXPECT_EQ(CountLogEntries("kind=node"), 0);
    ExpectFailure(L"insufficient disk space for installer package", UnknownFreeSpace());

    const WorkerRun run = RunWorker(FixedFreeSpace(size + kHeadroom));
    EXPECT_EQ(run.outcome(), WorkerOutcome::Completed) << run.detailUtf8();
}

TEST_F(ReuseAndRefusalTest, ResumedDownloadNeedsRoomOnlyForWhatIsMissing) {
    LeaveResumableSession(100000);
    const std::uint64_t missing = static_cast<std::uint64_t>(Package().sizeBytes) - 100000;
    ExpectFailure(L"insufficient disk space for installer package", FixedFreeSpace(missing + kHeadroom - 1));
    EXPECT_EQ(ReadBytes(PartPath()).size(), 100000u);

    const WorkerRun run = RunWorker(FixedFreeSpace(missing + kHeadroom));
    EXPECT_EQ(run.outcome(), WorkerOutcome::Completed) << run.detailUtf8();
}

TEST_F(ReuseAndRefusalTest, CenterRefusalsAndBrokenAnswersEndWithTheirTexts) {
    center_.QueueAnswer("prepare", 500, R"({})");
    ExpectFailure(L"无法取得最新安装包信息");

    center_.QueueAnswer("prepare", 503, R"({"message":"中心正在维护，请稍后再试"})");
    ExpectFailure(L"中心正在维护，请稍后再试");

    center_.QueueAnswer("prepare", 200, R"({"packageId":"p","fileName":"a.exe","sha256":"abc","sizeBytes":5})");
    ExpectFailure(L"中心返回的安装包元数据不完整");

    center_.QueueAnswer("start", 403, R"({"errorCode":"SESSION_REFUSED"})");
    ExpectFailure(L"中心未批准本次下载");

    const CenterPackage package = Package();
    center_.QueueAnswer("start", 200,
                        R"({"packageId":")" + package.packageId + R"(","fileName":")" + package.fileName +
                            R"(","sha256":")" + package.sha256 + R"(","sizeBytes":)" +
                            std::to_string(package.sizeBytes) + "}");
    ExpectFailure(L"本机没有可复用文件，但中心未返回下载地址");

    center_.SetFaults(R"({"node":{"status":403,"times":1}})");
    ExpectFailure(L"下载节点返回状态 403");

    App().centerBaseUrl = L"http://127.0.0.1:1/support-center";
    ExpectFailure(L"center request failed");
}

TEST_F(ReuseAndRefusalTest, AutomaticRunFailureIsReportedWithExitCode4) {
    App().autoStart = true;
    center_.QueueAnswer("prepare", 500, R"({"message":"中心不可用"})");
    ExpectFailure(L"中心不可用");
    EXPECT_EQ(App().exitCode.load(), 4);
    const std::wstring report = LatestReport();
    EXPECT_NE(report.find(L"分类: UnhandledException\r\n"), std::wstring::npos);
    EXPECT_NE(report.find(L"退出码: 4\r\n"), std::wstring::npos);
    EXPECT_NE(report.find(L"异常链: 中心不可用\r\n"), std::wstring::npos);
    EXPECT_NE(report.find(L"最后成功检查点: 下载或启动失败，等待用户重试\r\n"), std::wstring::npos);
}

TEST_F(ReuseAndRefusalTest, PackageOfAnotherPublisherIsNeitherPublishedNorReusedNorStarted) {
    std::vector<std::wstring> checked;
    checkPublisher_ = [&checked](const HeldPackage& package) {
        checked.push_back(package.Path());
        return SignatureCheck{SignatureVerdict::ForeignSigner, {0, L"Mallory", L"CN=Mallory", std::string(64, 'a')}};
    };
    const std::wstring refused = L"安装包的数字签名不属于欧瑞凡达（签名者：Mallory），已停止安装。请联系客服 400-100-200。";
    const std::wstring record = root_ / L"machine\\downloads\\client-latest.txt";
    ExpectFailure(refused);
    EXPECT_EQ(checked, std::vector<std::wstring>{PartPath()});
    EXPECT_FALSE(FileExists(PublishedPath()));
    EXPECT_FALSE(FileExists(record));

    // The same package already on disk: the center hears of no reuse.
    App().autoStart = true;
    PlaceLocalCopy();
    ExpectFailure(refused);
    EXPECT_EQ(checked.back(), LocalCopyPath());
    EXPECT_EQ(ReusesCounted(), 0);
    EXPECT_FALSE(FileExists(record));
    EXPECT_FALSE(FileExists(LocalCopyPath() + L".launched.txt"));
    EXPECT_EQ(App().exitCode.load(), 4);
    EXPECT_NE(LatestReport().find(L"签名校验：未通过，签名者不是受信任的发布者（WinVerifyTrust 0x00000000，签名者：CN=Mallory，"
                                  L"公钥 SHA-256：" + std::wstring(64, L'a') + L"）\r\n"),
              std::wstring::npos);
}

TEST_F(ReuseAndRefusalTest, UnreachableNodeReadsAsAChineseSentenceInTheDetailAndTheReport) {
    App().autoStart = true;
    const CenterPackage package = Package();
    // Port 1 on loopback has no listener.
    center_.QueueAnswer("start", 200,
                        R"({"packageId":")" + package.packageId + R"(","fileName":")" + package.fileName +
                            R"(","sha256":")" + package.sha256 + R"(","sizeBytes":)" +
                            std::to_string(package.sizeBytes) + R"(,"downloadUrl":"http://127.0.0.1:1/oss/x.exe"})");
    ExpectFailure(L"下载连接失败：无法连接到服务器 (12029)");
    EXPECT_NE(LatestReport().find(L"异常链: 下载连接失败：无法连接到服务器 (12029)\r\n"), std::wstring::npos)
        << Utf16ToUtf8(LatestReport());
}

TEST_F(ReuseAndRefusalTest, FailureOutsideTheAutomaticModeLeavesTheReportToTheWindow) {
    center_.QueueAnswer("prepare", 500, R"({})");
    ExpectFailure(L"无法取得最新安装包信息");
    EXPECT_EQ(App().exitCode.load(), 0);
    EXPECT_FALSE(InstalledDiagnostics().finished());
    EXPECT_EQ(InstalledDiagnostics().stage(), L"下载或启动失败，等待用户重试");
}

TEST_F(ReuseAndRefusalTest, PackageThatIsNoProgramFailsToLaunch) {
    center_.SetPackage(R"({"packageType":"ClientOnly","generatedSize":200000})");
    ExpectFailure(L"installer launch failed");
    EXPECT_TRUE(App().integrityPassed.load());
    EXPECT_TRUE(HoldsPackage(PublishedPath()));
    EXPECT_NE(ReadBytes(root_ / L"machine\\downloads\\client-latest.txt").find("source=downloaded"), std::string::npos);

    ExpectFailure(L"existing installer launch failed");
    EXPECT_EQ(ReusesCounted(), 1);
}

// A data root someone prepared with a link at one of its folders: nothing is made,
// read or deleted through it, and the run ends before the center hears of it.
TEST_F(ReuseAndRefusalTest, LinkInTheDataRootEndsTheRunBeforeAnythingGoesThroughIt) {
    const TempFolder elsewhere(L"worker-elsewhere");
    WriteBytes(elsewhere / L"client.part", "someone else's");
    for (const wchar_t* place :
         {L"packages\\.cache", L"cache", L"launch", L"machine", L"machine\\downloads\\history"}) {
        const std::wstring link = root_ / place;
        EnsureDirectory(link.substr(0, link.rfind(L'\\')));
        ASSERT_TRUE(MakeUnixSymbolicLink(link, elsewhere.path()));
        ExpectFailure(FolderLinkText(link));
        RemoveUnixSymbolicLink(link);
        EXPECT_EQ(EntryNames(elsewhere.path()), std::vector<std::wstring>{L"client.part"}) << Utf16ToUtf8(place);
        EXPECT_EQ(ReadBytes(elsewhere / L"client.part"), "someone else's");
    }
    EXPECT_EQ(CountLogEntries("kind=api"), 0);
}

}  // namespace
}  // namespace orivanta::test
