#pragma once
// The one process-wide record through which the UI thread, the LAN discovery
// thread and the download worker cooperate.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/HttpAbort.h"
#include "state/Edition.h"
#include "state/RunJournal.h"

namespace orivanta {

// Posted (never sent) to the main window by the worker and the LAN thread.
constexpr UINT kRefreshMessage = WM_APP + 10;
constexpr UINT kWorkerDoneMessage = WM_APP + 11;

enum class WorkerOutcome : int { Failed = 0, Completed = 1, Paused = 2 };

// What the LAN search has found so far.
enum class LanState : int { Checking = 0, NoHost = 1, HostFound = 2 };

extern const wchar_t* const kDefaultCenterBaseUrl;

// The exit code of an automatic run that did not download and start the package.
inline constexpr int kAutomaticRunFailedExitCode = 4;

struct AppState {
    AppState();
    ~AppState();

    // Guarded by stateMutex: every read and write takes it.
    std::mutex stateMutex;
    std::wstring statusText;
    std::wstring detailText;
    std::wstring saveLocationText;
    std::wstring lanHostText;
    Edition edition = Edition::None;
    LanState lanState = LanState::Checking;
    std::wstring sessionId;
    std::string packageId;  // UTF-8, as the center names it
    std::wstring signatureCheck;  // the publisher check of the package, as the exit report states it

    // Lock-free flags and counters.
    // A download request is in progress. Only the UI thread writes it: the main
    // button sets it when it starts a worker, and the window clears it when it
    // handles that worker's done message, whatever the outcome. The worker never
    // touches it.
    std::atomic<bool> busy{false};
    std::atomic<bool> cancelRequested{false};
    std::atomic<bool> windowClosing{false};
    std::atomic<bool> userChoseEdition{false};
    std::atomic<bool> integrityPassed{false};
    std::atomic<bool> installerLaunched{false};
    std::atomic<bool> windowsNetworkReady{false};
    std::atomic<bool> centerResponded{false};
    std::atomic<int> progressPercent{0};
    std::atomic<std::int64_t> bytesDone{0};
    std::atomic<std::int64_t> bytesTotal{0};
    std::atomic<double> speedBytesPerSecond{0.0};
    // Only the worker changes it (kAutomaticRunFailedExitCode), before it posts the done message.
    std::atomic<int> exitCode{0};
    // The closing side breaks the worker's center and node calls off through it.
    HttpAbort networkAbort;

    // Start-up configuration: written before any other thread exists, read-only afterwards.
    std::wstring centerBaseUrl;
    std::wstring diagnosticDataRoot;
    bool diagnosticMode = false;
    bool autoStart = false;

    // Owned by the UI thread; other threads only read mainWindow to post to it.
    std::atomic<HWND> mainWindow{nullptr};
    std::thread lanThread;
    std::thread workerThread;
    // Ready once the worker's body has returned, so that shutdown can wait for it with a limit.
    std::future<void> workerEnded;
    std::unique_ptr<RunJournal> diagnostics;
};

// The single instance, alive for the whole process.
AppState& App();

struct DisplaySnapshot {
    std::wstring statusText;
    std::wstring detailText;
    std::wstring lanHostText;
    std::wstring saveLocationText;
    Edition edition = Edition::None;
    LanState lanState = LanState::Checking;
    int progressPercent = 0;
    std::int64_t bytesDone = 0;
    std::int64_t bytesTotal = 0;
    double speedBytesPerSecond = 0.0;
};

void SetStatus(const std::wstring& status);
void SetStatusAndDetail(const std::wstring& status, const std::wstring& detail);
DisplaySnapshot ReadDisplaySnapshot();
void PostRefresh();
void PostWorkerDone(WorkerOutcome outcome);

// The edition choice of the window: resets the progress and the texts in one step.
void ChooseEdition(Edition edition);

// Records a checkpoint with the run diagnostics, when they exist.
void Checkpoint(const std::wstring& stage);
// The run's final report (written once per run), when the diagnostics exist.
void FinishRun(const std::wstring& classification, int exitCode, const std::wstring& reason,
               const std::wstring& manualAction, const std::wstring& exceptionChain);

}  // namespace orivanta
