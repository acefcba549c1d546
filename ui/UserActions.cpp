#include "ui/UserActions.h"

#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "common/SupportHotline.h"
#include "lan/LanDiscovery.h"
#include "state/Edition.h"
#include "ui/MainButton.h"
#include "ui/WindowInteraction.h"

namespace orivanta {
namespace {

MessageBoxFunction showMessageBox = ::MessageBoxW;

void Invalidate(HWND window) {
    if (window != nullptr) ::InvalidateRect(window, nullptr, FALSE);
}

Edition SelectedEdition() {
    AppState& app = App();
    std::lock_guard<std::mutex> lock(app.stateMutex);
    return app.edition;
}

bool HostFound() {
    AppState& app = App();
    std::lock_guard<std::mutex> lock(app.stateMutex);
    return app.lanState == LanState::HostFound;
}

FocusItem CardOf(Edition edition) {
    return edition == Edition::Server ? FocusItem::ServerCard : FocusItem::ClientCard;
}

// The worker's end is told while the user may be looking elsewhere: at the
// Explorer window the worker has just opened, or at another program during a
// long download. The window comes to the front first, so that the box it owns
// is seen and takes the keyboard. Windows allows it while the user's last input
// went to this process, and otherwise flashes the taskbar button instead.
int ShowInFront(HWND window, const wchar_t* text, const wchar_t* caption, UINT type) {
    ::SetForegroundWindow(window);
    return showMessageBox(window, text, caption, type);
}

}  // namespace

MessageBoxFunction SetActionMessageBox(MessageBoxFunction function) {
    const MessageBoxFunction previous = showMessageBox;
    showMessageBox = function;
    return previous;
}

void SelectEdition(HWND window, Edition edition) {
    AppState& app = App();
    if (app.busy) return;
    if (edition == Edition::Server && HostFound()) {
        const std::wstring text =
            L"已在局域网发现门诊主机。\n\n同一门诊通常只安装一台主机；如确需多主机部署，请联系欧瑞凡达客服 " +
            SupportHotlineText() + L" 协助安装。";
        showMessageBox(window, text.c_str(), L"主机安装需客服协助", MB_OK | MB_ICONINFORMATION);
        return;
    }
    ChooseEdition(edition);
    Interaction().focusIndex = CardOf(edition);
    Invalidate(window);
}

void MainButtonAction(WorkerBody worker) {
    AppState& app = App();
    const MainButtonMode mode = MainButtonModeFor(SelectedEdition(), app.busy, app.progressPercent);
    if (!MainButtonEnabled(mode)) return;
    if (mode == MainButtonMode::Pause) {
        app.cancelRequested = true;
        SetStatus(L"正在暂停…");
        Invalidate(app.mainWindow.load());
        return;
    }
    if (app.workerThread.joinable()) app.workerThread.join();
    {
        // busy is set in the same step as the edition is read: the LAN thread, which
        // decides under this lock, never changes the edition of a running request.
        std::lock_guard<std::mutex> lock(app.stateMutex);
        const Edition edition = app.edition;
        if (edition == Edition::None) return;
        app.cancelRequested = false;
        app.busy = true;
        app.statusText = L"正在准备安全下载";
        app.detailText = std::wstring(EditionWindowName(edition)) + L" · 官方最新版";
    }
    std::packaged_task<void()> body(worker);
    app.workerEnded = body.get_future();
    app.workerThread = std::thread(std::move(body));
    Invalidate(app.mainWindow.load());
}

void ActivateRegion(HWND window, HitRegion region) {
    // A box the window owns disables it, and the box's own message loop still
    // dispatches the actions a screen reader posted: a second request must not start
    // behind the completion box.
    if (!::IsWindowEnabled(window)) return;
    switch (region) {
    case HitRegion::ServerCard:
        SelectEdition(window, Edition::Server);
        break;
    case HitRegion::ClientCard:
        SelectEdition(window, Edition::Client);
        break;
    case HitRegion::MainButton:
        Interaction().focusIndex = FocusItem::MainButton;
        MainButtonAction();
        break;
    case HitRegion::Minimize:
        ::ShowWindow(window, SW_MINIMIZE);
        break;
    case HitRegion::Close:
        ::SendMessageW(window, WM_CLOSE, 0, 0);
        break;
    case HitRegion::None:
        break;
    }
}

void HandleCloseRequest(HWND window) {
    AppState& app = App();
    if (!app.busy) {
        ::DestroyWindow(window);
        return;
    }
    if (!app.autoStart) {
        const int answer = showMessageBox(
            window, L"下载尚未完成。现在关闭会保留进度，下次继续不会增加下载次数。\n\n确定关闭吗？", L"关闭安装助手",
            MB_YESNO | MB_ICONQUESTION);
        if (answer != IDYES) return;
    }
    app.cancelRequested = true;
    // A center or node call the worker is blocked in is broken off where WinHTTP
    // allows it; the shutdown waits for the worker only briefly in any case.
    app.networkAbort.Abort();
    FinishRun(L"UserCancelled", 0, L"用户在下载过程中关闭了安装助手，已下载文件与会话均已保留。",
              L"需要时重新打开程序并选择相同版本，即可继续下载且不增加次数。", L"");
    // The worker is joined by the shutdown after the message loop, not here.
    ::DestroyWindow(window);
}

void HandleWorkerDone(HWND window, WorkerOutcome outcome) {
    AppState& app = App();
    app.busy = false;
    std::wstring failure;
    {
        std::lock_guard<std::mutex> lock(app.stateMutex);
        failure = app.detailText;  // the worker's failure message, before a withdrawal replaces it
    }
    WithdrawServerEditionIfHostFound();
    Invalidate(window);
    if (outcome == WorkerOutcome::Completed) {
        if (!app.autoStart) {
            ShowInFront(window,
                        L"安装包所在文件夹和安装程序均已打开。\n\n请在安装程序中确认后继续，本下载助手现在可以关闭。",
                        L"下载完成", MB_OK | MB_ICONINFORMATION);
        }
        ::DestroyWindow(window);
    } else if (outcome == WorkerOutcome::Failed) {
        if (app.autoStart) {
            ::DestroyWindow(window);
            return;
        }
        ShowInFront(window, failure.c_str(), L"下载未完成", MB_OK | MB_ICONWARNING);
    }
}

}  // namespace orivanta
