#include "WorkerHarness.h"

#include <shlwapi.h>
#include <tlhelp32.h>

#include <thread>

#include "AppStateReset.h"
#include "center/JsonFields.h"
#include "common/AtomicFile.h"
#include "common/Folders.h"
#include "common/Handles.h"
#include "common/Utf.h"
#include "diagnostics/RunDiagnostics.h"
#include "download/FolderAndLaunch.h"
#include "identity/DeviceIdentity.h"
#include "state/Edition.h"

namespace orivanta::test {

constexpr ULONGLONG kRunTimeoutMs = 180000;

std::string WorkerRun::detailUtf8() const { return Utf16ToUtf8(display.detailText); }

void WorkerTest::SetUp() {
    ResetAppState();
    AppState& app = App();
    app.diagnosticMode = true;
    center_.Reset();
    app.centerBaseUrl = center_.CenterUrl();
    app.diagnosticDataRoot = root_.path();
    app.edition = Edition::Client;
    window_ = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    app.mainWindow = window_;
    const std::wstring localAppData = localAppData_.path();
    app.diagnostics = std::make_unique<RunDiagnostics>([localAppData] { return localAppData; });
    retryClock_ = SystemRetryClock();
    retryClock_.now = [this] { return std::chrono::steady_clock::time_point(waited_); };
    retryClock_.sleep = [this](std::chrono::milliseconds delay) {
        waited_ += delay;
        if (onWait_) onWait_(ReadDisplaySnapshot());
    };
    retryClock_.jitter = [] { return 0.5; };
}

void WorkerTest::TearDown() {
    StopStartedPrograms();
    App().diagnostics.reset();
    ResetAppState();
    ::DestroyWindow(window_);
}

WorkerRun WorkerTest::RunWorker(std::function<void()> onRefresh) { return RunWorker({}, std::move(onRefresh)); }

WorkerRun WorkerTest::RunWorker(const FreeSpaceProbe& freeSpace, std::function<void()> onRefresh,
                                bool pauseAlreadyRequested) {
    AppState& app = App();
    app.busy = true;
    app.cancelRequested = pauseAlreadyRequested;
    WorkerRun run;
    const InstallerLauncher launch = [this](LaunchCopy copy) {
        if (beforeLaunch_) beforeLaunch_(copy.Package().Path());
        return LaunchInstaller(std::move(copy));
    };
    std::thread worker([this, &freeSpace, &launch] {
        RunDownloadWorker(freeSpace ? freeSpace : FreeSpaceProbe(QueryFreeBytes), launch, checkPublisher_, retryClock_);
    });
    const ULONGLONG deadline = ::GetTickCount64() + kRunTimeoutMs;
    MSG message;
    while (run.outcomes.empty()) {
        if (::PeekMessageW(&message, window_, 0, 0, PM_REMOVE)) {
            if (message.message == kRefreshMessage) {
                ++run.refreshes;
                if (onRefresh) onRefresh();
            } else if (message.message == kWorkerDoneMessage) {
                run.outcomes.push_back(static_cast<WorkerOutcome>(message.wParam));
            }
            continue;
        }
        if (::GetTickCount64() > deadline) {
            run.finishedInTime = false;
            app.cancelRequested = true;
            break;
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_POSTMESSAGE);
    }
    worker.join();
    // The worker has ended: anything it posted is queued now, a second done message included.
    while (::PeekMessageW(&message, window_, 0, 0, PM_REMOVE)) {
        if (message.message == kWorkerDoneMessage) run.outcomes.push_back(static_cast<WorkerOutcome>(message.wParam));
        if (message.message == kRefreshMessage) ++run.refreshes;
    }
    run.display = ReadDisplaySnapshot();
    EXPECT_TRUE(run.finishedInTime) << "the worker did not finish in time";
    EXPECT_EQ(run.outcomes.size(), 1u) << "exactly one worker-done message per request";
    return run;
}

std::wstring WorkerTest::PublishedPath() { return SaveFolder() + L"\\" + Utf8ToUtf16(Package().fileName); }

void WorkerTest::CreateCacheFolders() {
    EnsureDirectory(root_ / L"cache");
    EnsureDirectory(root_ / L"packages\\.cache");
}

std::wstring WorkerTest::ReportRoot() const { return InstalledDiagnostics().reportRoot(); }

std::wstring WorkerTest::LatestReport() const {
    return Utf8ToUtf16(ReadBytes(ReportRoot() + L"\\latest-exit.txt"));
}

CenterPackage WorkerTest::Package() {
    if (package_.sizeBytes == 0) {
        const std::string described = center_.Package("ClientOnly");
        package_.packageId = JsonStringField(described, "packageId");
        package_.fileName = JsonStringField(described, "fileName");
        package_.sha256 = JsonStringField(described, "sha256");
        package_.sizeBytes = JsonIntegerField(described, "sizeBytes");
        package_.path = center_.PackageFilePath("ClientOnly");
    }
    return package_;
}

std::string WorkerTest::PackageBytes() { return ReadBytes(Package().path); }

std::string WorkerTest::DeviceId() { return GetStableDeviceId(root_.path(), SystemWindowsFolder()); }

::testing::AssertionResult WorkerTest::HoldsPackage(const std::wstring& path) {
    return HoldsPackagePrefix(path, Package().sizeBytes);
}

::testing::AssertionResult WorkerTest::HoldsPackagePrefix(const std::wstring& path, std::int64_t bytes) {
    const std::string content = ReadBytes(path);
    if (static_cast<std::int64_t>(content.size()) != bytes) {
        return ::testing::AssertionFailure() << Utf16ToUtf8(path) << " holds " << content.size() << " bytes, not "
                                             << bytes;
    }
    if (content != PackageBytes().substr(0, static_cast<size_t>(bytes))) {
        return ::testing::AssertionFailure() << Utf16ToUtf8(path) << " differs from the package";
    }
    return ::testing::AssertionSuccess();
}

int WorkerTest::CountLogEntries(const std::string& query) {
    const std::string log = center_.Log(query);
    int count = 0;
    for (size_t at = log.find("\"seq\":"); at != std::string::npos; at = log.find("\"seq\":", at + 1)) ++count;
    return count;
}

std::string WorkerTest::LastStartBody() {
    return JsonStringField(center_.Log("kind=api&operation=start&last=1"), "body");
}

std::string WorkerTest::FirstStartBody() { return JsonStringField(center_.Log("kind=api&operation=start"), "body"); }

std::vector<std::wstring> WorkerTest::StopStartedPrograms() {
    std::vector<std::wstring> names;
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return names;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID != ::GetCurrentProcessId()) continue;
        names.emplace_back(entry.szExeFile);
        UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process.get(), 1);
            ::WaitForSingleObject(process.get(), 5000);
        }
    }
    return names;
}

bool WorkerTest::WaitForLaunchProof(const std::wstring& packagePath, DWORD timeoutMs) {
    const std::wstring proof = std::wstring(::PathFindFileNameW(packagePath.c_str())) + L".launched.txt";
    const auto launched = [&] {
        WIN32_FIND_DATAW folder{};
        UniqueFindHandle find(::FindFirstFileW((LaunchParent() + L"\\*").c_str(), &folder));
        for (bool more = find.valid(); more; more = ::FindNextFileW(find.get(), &folder)) {
            if (FileExists(LaunchParent() + L"\\" + folder.cFileName + L"\\" + proof)) return true;
        }
        return false;
    };
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!launched()) {
        if (::GetTickCount64() > deadline) return false;
        ::Sleep(100);
    }
    return true;
}

std::string TryToTamperWith(const std::wstring& packagePath) {
    std::string succeeded;
    {
        UniqueHandle file(::CreateFileW(packagePath.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
        const char garbage[] = "MZ but not the package";
        DWORD written = 0;
        if (file && ::WriteFile(file.get(), garbage, sizeof(garbage), &written, nullptr)) succeeded += "overwritten ";
    }
    const std::wstring decoy = packagePath + L".decoy";
    WriteBytes(decoy, "a program of someone else's making");
    if (::MoveFileExW(decoy.c_str(), packagePath.c_str(), MOVEFILE_REPLACE_EXISTING)) succeeded += "replaced ";
    ::DeleteFileW(decoy.c_str());
    if (::MoveFileExW(packagePath.c_str(), (packagePath + L".moved").c_str(), 0)) succeeded += "renamed ";
    if (::DeleteFileW(packagePath.c_str())) succeeded += "deleted ";
    return succeeded;
}

void WriteSessionFile(const std::wstring& path, const std::wstring& sessionId) {
    ASSERT_TRUE(WriteFileAtomically(path, sessionId + L"\r\n"));
}

std::string SessionIdUtf8(const std::wstring& sessionId) { return Utf16ToUtf8(sessionId); }

FreeSpaceProbe FixedFreeSpace(std::uint64_t freeBytes) {
    return [freeBytes](const std::wstring&, std::uint64_t& value) {
        value = freeBytes;
        return true;
    };
}

FreeSpaceProbe UnknownFreeSpace() {
    return [](const std::wstring&, std::uint64_t&) { return false; };
}

}  // namespace orivanta::test
