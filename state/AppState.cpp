#include "state/AppState.h"

#include "state/Edition.h"

namespace orivanta {

const wchar_t* const kDefaultCenterBaseUrl = L"https://www.orivanta.cn/support-center";

AppState::AppState()
    : statusText(L"准备就绪"), detailText(L"请选择适合您的版本"), centerBaseUrl(kDefaultCenterBaseUrl) {}

// Threads still joinable when static objects are destroyed (the fatal path skips
// the joins) must not abort the process, so they are let go.
AppState::~AppState() {
    if (workerThread.joinable()) workerThread.detach();
    if (lanThread.joinable()) lanThread.detach();
}

AppState& App() {
    static AppState state;
    return state;
}

void SetStatus(const std::wstring& status) {
    AppState& app = App();
    std::lock_guard<std::mutex> lock(app.stateMutex);
    app.statusText = status;
}

void SetStatusAndDetail(const std::wstring& status, const std::wstring& detail) {
    AppState& app = App();
    std::lock_guard<std::mutex> lock(app.stateMutex);
    app.statusText = status;
    app.detailText = detail;
}

DisplaySnapshot ReadDisplaySnapshot() {
    AppState& app = App();
    DisplaySnapshot snapshot;
    {
        std::lock_guard<std::mutex> lock(app.stateMutex);
        snapshot.statusText = app.statusText;
        snapshot.detailText = app.detailText;
        snapshot.lanHostText = app.lanHostText;
        snapshot.saveLocationText = app.saveLocationText;
        snapshot.edition = app.edition;
        snapshot.lanState = app.lanState;
    }
    snapshot.progressPercent = app.progressPercent.load();
    snapshot.bytesDone = app.bytesDone.load();
    snapshot.bytesTotal = app.bytesTotal.load();
    snapshot.speedBytesPerSecond = app.speedBytesPerSecond.load();
    return snapshot;
}

void PostRefresh() {
    if (HWND window = App().mainWindow.load()) ::PostMessageW(window, kRefreshMessage, 0, 0);
}

void PostWorkerDone(WorkerOutcome outcome) {
    if (HWND window = App().mainWindow.load()) {
        ::PostMessageW(window, kWorkerDoneMessage, static_cast<WPARAM>(outcome), 0);
    }
}

void ChooseEdition(Edition edition) {
    AppState& app = App();
    std::lock_guard<std::mutex> lock(app.stateMutex);
    app.edition = edition;
    app.userChoseEdition = true;
    app.progressPercent = 0;
    app.bytesDone = 0;
    app.bytesTotal = 0;
    app.statusText = L"准备就绪";
    app.detailText = edition == Edition::Server ? L"服务端版 · 本机将作为门诊唯一主机" : L"仅客户端版 · 连接现有门诊主机";
}

void Checkpoint(const std::wstring& stage) {
    if (RunJournal* diagnostics = App().diagnostics.get()) diagnostics->Heartbeat(stage);
}

void FinishRun(const std::wstring& classification, int exitCode, const std::wstring& reason,
               const std::wstring& manualAction, const std::wstring& exceptionChain) {
    if (RunJournal* diagnostics = App().diagnostics.get()) {
        diagnostics->Finish(classification, exitCode, reason, manualAction, exceptionChain);
    }
}

}  // namespace orivanta
