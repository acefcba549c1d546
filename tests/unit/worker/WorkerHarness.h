#pragma once
// Runs the download worker on its own thread against the development center,
// the way the window does: a message-only window stands in for the main window
// and receives the posted messages on the test thread.

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DevCenterClient.h"
#include "TestFiles.h"
#include "state/AppState.h"
#include "workflow/DownloadWorker.h"

namespace orivanta::test {

struct WorkerRun {
    std::vector<WorkerOutcome> outcomes;  // every worker-done message, in order
    int refreshes = 0;
    DisplaySnapshot display;  // after the done message
    bool finishedInTime = true;

    WorkerOutcome outcome() const { return outcomes.empty() ? WorkerOutcome::Failed : outcomes.front(); }
    std::string detailUtf8() const;
};

// The center's package of the edition under test.
struct CenterPackage {
    std::string packageId;
    std::string fileName;
    std::string sha256;
    std::int64_t sizeBytes = 0;
    std::wstring path;  // where this program can read its bytes
};

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // One request of the client edition from the main button's point of view:
    // busy set, cancelRequested cleared (unless told otherwise), worker started and
    // joined after its done message. onRefresh runs on this thread per refresh message.
    WorkerRun RunWorker(std::function<void()> onRefresh = {});
    WorkerRun RunWorker(const FreeSpaceProbe& freeSpace, std::function<void()> onRefresh = {},
                        bool pauseAlreadyRequested = false);

    std::wstring SaveFolder() const { return root_ / L"packages"; }
    std::wstring StatePath() const { return root_ / L"cache\\client.state"; }
    std::wstring PartPath() const { return root_ / L"packages\\.cache\\client.part"; }
    std::wstring PublishedPath();
    // The two cache folders, for tests that leave files of an earlier run there.
    void CreateCacheFolders();
    std::wstring ReportRoot() const;
    std::wstring LatestReport() const;

    CenterPackage Package();
    std::string PackageBytes();
    std::string DeviceId();
    // The file holds exactly the package, or exactly its first bytes.
    ::testing::AssertionResult HoldsPackage(const std::wstring& path);
    ::testing::AssertionResult HoldsPackagePrefix(const std::wstring& path, std::int64_t bytes);

    // Request log helpers (query as for DevCenterClient::Log).
    int CountLogEntries(const std::string& query);
    std::string LastStartBody();
    std::string FirstStartBody();

    // Terminates what the runs started (Explorer, the installer) and returns their image names.
    std::vector<std::wstring> StopStartedPrograms();
    // Where the runs make their launch folders: inside the data root (LaunchFolderParent).
    std::wstring LaunchParent() const { return root_ / L"launch"; }
    // Waits for the demo installer's proof file beside its copy of the package, in a launch folder.
    bool WaitForLaunchProof(const std::wstring& packagePath, DWORD timeoutMs = 30000);

    // Runs on the worker thread just before the installer is started, with the path of the copy that starts.
    std::function<void(const std::wstring& packagePath)> beforeLaunch_;
    // The publisher check's verdict on every package; the demo packages are not what it is tested on here.
    PublisherCheck checkPublisher_ = [](const HeldPackage&) { return SignatureCheck{}; };
    // The retries' clock: a wait passes at once, adds to waited_ and runs onWait_ with the display of that moment.
    RetryClock retryClock_;
    std::chrono::milliseconds waited_{0};
    std::function<void(const DisplaySnapshot&)> onWait_;

    DevCenterClient center_;
    TempFolder root_{L"worker"};
    TempFolder localAppData_{L"worker-diag"};

private:
    HWND window_ = nullptr;
    CenterPackage package_;
};

// What another process tries on the package at the last moment before its launch:
// overwrite, replace, rename, delete. Names the attempts that succeeded; empty when none did.
std::string TryToTamperWith(const std::wstring& packagePath);

// A session file holding the identifier, as an earlier run leaves it.
void WriteSessionFile(const std::wstring& path, const std::wstring& sessionId);
std::string SessionIdUtf8(const std::wstring& sessionId);
// Free-space probes with a fixed answer.
FreeSpaceProbe FixedFreeSpace(std::uint64_t freeBytes);
FreeSpaceProbe UnknownFreeSpace();

}  // namespace orivanta::test
