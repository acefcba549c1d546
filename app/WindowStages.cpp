#include "app/WindowStages.h"

#include <winsock2.h>
#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "app/ProcessEnd.h"
#include "lan/LanDiscovery.h"
#include "storage/StorageLocations.h"
#include "ui/DeviceResources.h"
#include "ui/MainWindow.h"
#include "ui/UserActions.h"
#include "state/AppState.h"

namespace orivanta {
namespace {

// How long a worker whose blocked call was broken off may take to end, counted
// from the moment the close broke it off.
constexpr std::chrono::milliseconds kWorkerEndGrace{1000};

void OpenMainWindow(HINSTANCE instance, int showCommand) {
    AppState& app = App();
    Checkpoint(L"创建安装助手主窗口");
    RegisterMainWindowClass(instance);
    HWND window = CreateMainWindow(instance);
    app.mainWindow = window;
    ::ShowWindow(window, app.autoStart ? SW_HIDE : showCommand);
    ::UpdateWindow(window);
    RethrowWindowProcedureFailure();
    ::SetForegroundWindow(window);
}

int RunMessageLoop() {
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
        RethrowWindowProcedureFailure();
    }
    return static_cast<int>(message.wParam);
}

// Ends the process while the worker is still inside a call that could not be
// broken off. What it wrote is in the part and session files; the run's report
// is written here unless the close already wrote one.
[[noreturn]] void EndWithWorkerRunning(int exitCode) {
    AppState& app = App();
    if (app.diagnostics) app.diagnostics->FinishControlledStop();
    EndProcessAtOnce(exitCode);
}

// Flags first, so that neither join waits for a whole download or probe. A
// network call the worker is blocked in is broken off; a worker that still has
// not ended after the grace period is not waited for.
void ShutDown(int exitCode) {
    AppState& app = App();
    app.windowClosing = true;
    app.cancelRequested = true;
    app.networkAbort.Abort();
    if (app.workerThread.joinable() && app.workerEnded.valid() &&
        app.workerEnded.wait_until(app.networkAbort.abortedAt() + kWorkerEndGrace) != std::future_status::ready) {
        EndWithWorkerRunning(exitCode);
    }
    if (app.workerThread.joinable()) app.workerThread.join();
    if (app.lanThread.joinable()) app.lanThread.join();
    std::unique_ptr<RunJournal> diagnostics = std::move(app.diagnostics);
    diagnostics.reset();
    ReleaseGraphicsObjects();
    ::WSACleanup();
    ::CoUninitialize();
}

}  // namespace

int RunInstallerWindow(HINSTANCE instance, int showCommand, const DiagnosticOptions& options) {
    AppState& app = App();
    {
        std::lock_guard<std::mutex> lock(app.stateMutex);
        app.saveLocationText = ChooseSaveFolder(app.diagnosticDataRoot).path;
    }
    ApplySimulatedLanResult(options.lan);

    Checkpoint(L"初始化 Windows 原生界面引擎");
    CreateGraphicsFactories();
    OpenMainWindow(instance, showCommand);
    Checkpoint(L"检查局域网 9009 服务并等待用户选择版本");

    if (app.autoStart) {
        MainButtonAction();
    } else if (options.lan.empty()) {
        app.lanThread = std::thread(DiscoverLanHost);
    }
    const int exitCode = RunMessageLoop();
    ShutDown(exitCode);
    return exitCode;
}

}  // namespace orivanta
