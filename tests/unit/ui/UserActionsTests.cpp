#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AppStateReset.h"
#include "TestFiles.h"
#include "common/Utf.h"
#include "diagnostics/RunDiagnostics.h"
#include "lan/LanDiscovery.h"
#include "ui/MainButton.h"
#include "ui/UserActions.h"
#include "ui/WindowInteraction.h"

namespace orivanta {
namespace {

struct ShownBox {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
    bool stateLockFree;
    bool ownerInFront;
};

std::vector<ShownBox> shownBoxes;
int boxAnswer = IDOK;

int WINAPI ScriptedMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    // A box pumps messages; holding the state lock across it could deadlock the UI thread.
    std::unique_lock<std::mutex> probe(App().stateMutex, std::try_to_lock);
    shownBoxes.push_back({owner, text, caption, type, probe.owns_lock(), ::GetForegroundWindow() == owner});
    return boxAnswer;
}

void SetEditionAndLan(Edition edition, LanState lanState) {
    std::lock_guard<std::mutex> lock(App().stateMutex);
    App().edition = edition;
    App().lanState = lanState;
}

std::wstring StatusText() {
    std::lock_guard<std::mutex> lock(App().stateMutex);
    return App().statusText;
}

std::wstring DetailText() {
    std::lock_guard<std::mutex> lock(App().stateMutex);
    return App().detailText;
}

Edition ChosenEdition() {
    std::lock_guard<std::mutex> lock(App().stateMutex);
    return App().edition;
}

// Fake workers: count the runs and how many ran at the same time.
std::atomic<int> workerRuns{0};
std::atomic<int> workersRunning{0};
std::atomic<int> mostWorkersAtOnce{0};
std::atomic<bool> releaseWorker{true};

void CountingWorker() {
    const int running = ++workersRunning;
    int most = mostWorkersAtOnce.load();
    while (running > most && !mostWorkersAtOnce.compare_exchange_weak(most, running)) {
    }
    while (!releaseWorker) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ++workerRuns;
    --workersRunning;
}

// A download that runs until it is asked to stop, or gives up after two seconds.
void PausableWorker() {
    const ULONGLONG deadline = ::GetTickCount64() + 2000;
    while (!App().cancelRequested && ::GetTickCount64() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ++workerRuns;
}

class UserActions : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetAppState();
        Interaction() = {};
        shownBoxes.clear();
        boxAnswer = IDOK;
        workerRuns = 0;
        workersRunning = 0;
        mostWorkersAtOnce = 0;
        releaseWorker = true;
        previousBox_ = SetActionMessageBox(ScriptedMessageBox);
        // A message-only window: destroyable and ownable without a display.
        window_ = ::CreateWindowExW(0, L"STATIC", L"actions", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        releaseWorker = true;
        if (App().workerThread.joinable()) App().workerThread.join();
        if (::IsWindow(window_)) ::DestroyWindow(window_);
        SetActionMessageBox(previousBox_);
        App().diagnostics.reset();
        test::ResetAppState();
    }

    HWND window_ = nullptr;
    MessageBoxFunction previousBox_ = nullptr;
};

TEST_F(UserActions, ChoosingAnEditionResetsProgressTextsAndFocus) {
    App().progressPercent = 37;
    App().bytesDone = 1000;
    App().bytesTotal = 2000;
    SelectEdition(window_, Edition::Client);
    EXPECT_EQ(ChosenEdition(), Edition::Client);
    EXPECT_TRUE(App().userChoseEdition);
    EXPECT_EQ(App().progressPercent, 0);
    EXPECT_EQ(App().bytesDone, 0);
    EXPECT_EQ(App().bytesTotal, 0);
    EXPECT_EQ(StatusText(), L"准备就绪");
    EXPECT_EQ(DetailText(), L"仅客户端版 · 连接现有门诊主机");
    EXPECT_EQ(Interaction().focusIndex, FocusItem::ClientCard);

    SetEditionAndLan(Edition::Client, LanState::NoHost);
    SelectEdition(window_, Edition::Server);
    EXPECT_EQ(ChosenEdition(), Edition::Server);
    EXPECT_EQ(DetailText(), L"服务端版 · 本机将作为门诊唯一主机");
    EXPECT_EQ(Interaction().focusIndex, FocusItem::ServerCard);
    EXPECT_TRUE(shownBoxes.empty());
}

TEST_F(UserActions, ServerCardIsRefusedWithAnExplanationOnceAHostWasFound) {
    SetEditionAndLan(Edition::None, LanState::HostFound);
    SelectEdition(window_, Edition::Server);
    ASSERT_EQ(shownBoxes.size(), 1u);
    EXPECT_EQ(shownBoxes[0].owner, window_);
    EXPECT_EQ(shownBoxes[0].caption, L"主机安装需客服协助");
    EXPECT_EQ(shownBoxes[0].text,
              L"已在局域网发现门诊主机。\n\n同一门诊通常只安装一台主机；如确需多主机部署，请联系欧瑞凡达客服 400-100-200 "
              L"协助安装。");
    EXPECT_EQ(shownBoxes[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_TRUE(shownBoxes[0].stateLockFree);
    EXPECT_EQ(ChosenEdition(), Edition::None);
    EXPECT_FALSE(App().userChoseEdition);
    EXPECT_EQ(DetailText(), L"请选择适合您的版本");
    EXPECT_EQ(Interaction().focusIndex, FocusItem::None);

    SelectEdition(window_, Edition::Client);
    EXPECT_EQ(ChosenEdition(), Edition::Client) << "the client edition stays available";
}

TEST_F(UserActions, EditionCannotChangeDuringADownload) {
    SetEditionAndLan(Edition::Client, LanState::HostFound);
    App().busy = true;
    App().progressPercent = 40;
    SelectEdition(window_, Edition::Server);
    SelectEdition(window_, Edition::Client);
    EXPECT_TRUE(shownBoxes.empty());
    EXPECT_EQ(App().progressPercent, 40);
    EXPECT_FALSE(App().userChoseEdition);
}

TEST_F(UserActions, MainButtonDoesNothingWithoutAnEdition) {
    MainButtonAction(CountingWorker);
    EXPECT_FALSE(App().busy);
    EXPECT_FALSE(App().workerThread.joinable());
    EXPECT_EQ(StatusText(), L"准备就绪");
}

TEST_F(UserActions, MainButtonStartsAWorkerWithFreshFlags) {
    SetEditionAndLan(Edition::Server, LanState::NoHost);
    App().cancelRequested = true;
    MainButtonAction(CountingWorker);
    EXPECT_TRUE(App().busy);
    EXPECT_FALSE(App().cancelRequested);
    EXPECT_EQ(StatusText(), L"正在准备安全下载");
    EXPECT_EQ(DetailText(), L"服务端版 · 官方最新版");
    ASSERT_TRUE(App().workerThread.joinable());
    App().workerThread.join();
    EXPECT_EQ(workerRuns, 1);

    App().busy = false;
    SetEditionAndLan(Edition::Client, LanState::NoHost);
    MainButtonAction(CountingWorker);
    EXPECT_EQ(DetailText(), L"仅客户端版 · 官方最新版");
}

TEST_F(UserActions, MainButtonWhileBusyAsksThePauseAndStartsNothing) {
    SetEditionAndLan(Edition::Client, LanState::NoHost);
    App().busy = true;
    App().progressPercent = 12;
    {
        std::lock_guard<std::mutex> lock(App().stateMutex);
        App().detailText = L"OrivantaClient.exe";
    }
    MainButtonAction(CountingWorker);
    MainButtonAction(CountingWorker);
    EXPECT_TRUE(App().cancelRequested);
    EXPECT_TRUE(App().busy);
    EXPECT_EQ(StatusText(), L"正在暂停…");
    EXPECT_EQ(DetailText(), L"OrivantaClient.exe");
    EXPECT_FALSE(App().workerThread.joinable());
}

TEST_F(UserActions, HostFoundDuringAServerDownloadPausesItAndThenRefusesTheServerCard) {
    SetEditionAndLan(Edition::Server, LanState::Checking);
    MainButtonAction(PausableWorker);
    ASSERT_TRUE(App().busy);
    PublishLanResult({true, L"192.168.1.20"});
    EXPECT_EQ(MainButtonModeFor(ChosenEdition(), App().busy, App().progressPercent), MainButtonMode::Pause)
        << "the main button still pauses the running download";
    App().workerThread.join();
    EXPECT_TRUE(App().cancelRequested) << "the download was paused";

    App().progressPercent = 30;
    HandleWorkerDone(window_, WorkerOutcome::Paused);
    EXPECT_EQ(ChosenEdition(), Edition::None);
    EXPECT_EQ(StatusText(), L"已发现现有主机，服务端版需要客服协助");
    EXPECT_EQ(DetailText(), L"多主机安装请联系 400-100-200");
    EXPECT_TRUE(shownBoxes.empty());
    SelectEdition(window_, Edition::Server);
    ASSERT_EQ(shownBoxes.size(), 1u);
    EXPECT_EQ(shownBoxes[0].caption, L"主机安装需客服协助");
    EXPECT_EQ(ChosenEdition(), Edition::None);
    MainButtonAction(CountingWorker);
    EXPECT_FALSE(App().workerThread.joinable()) << "nothing starts without an edition";

    // Whatever the edition reads, a running download's button pauses.
    EXPECT_EQ(MainButtonModeFor(Edition::None, true, 0), MainButtonMode::Pause);
}

TEST_F(UserActions, ResumingJoinsThePreviousWorkerBeforeStartingTheNext) {
    SetEditionAndLan(Edition::Client, LanState::NoHost);
    releaseWorker = false;
    MainButtonAction(CountingWorker);
    // The previous run has reported its end but its thread has not returned yet.
    App().busy = false;
    std::thread releaser([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        releaseWorker = true;
    });
    MainButtonAction(CountingWorker);
    releaser.join();
    App().workerThread.join();
    EXPECT_EQ(workerRuns, 2);
    EXPECT_EQ(mostWorkersAtOnce, 1);
}

TEST_F(UserActions, ActionsPostedWhileABoxDisablesTheWindowAreIgnored) {
    // What a box's modal loop dispatches: a card, the main button during a download, closing.
    SetEditionAndLan(Edition::Client, LanState::NoHost);
    for (const bool enabled : {false, true}) {
        ::EnableWindow(window_, enabled);
        App().busy = true;
        ActivateRegion(window_, HitRegion::MainButton);
        EXPECT_EQ(App().cancelRequested.load(), enabled) << "the pause request";
        App().busy = false;
        ActivateRegion(window_, HitRegion::ServerCard);
        EXPECT_EQ(ChosenEdition(), enabled ? Edition::Server : Edition::Client);
        ActivateRegion(window_, HitRegion::Close);
        EXPECT_EQ(::IsWindow(window_) != FALSE, !enabled);
    }
}

TEST_F(UserActions, ClosingWhileIdleClosesWithoutAsking) {
    HandleCloseRequest(window_);
    EXPECT_FALSE(::IsWindow(window_));
    EXPECT_TRUE(shownBoxes.empty());
    EXPECT_FALSE(App().cancelRequested);
}

TEST_F(UserActions, ClosingDuringADownloadAsksAndNoKeepsItRunning) {
    App().busy = true;
    boxAnswer = IDNO;
    HandleCloseRequest(window_);
    ASSERT_EQ(shownBoxes.size(), 1u);
    EXPECT_EQ(shownBoxes[0].caption, L"关闭安装助手");
    EXPECT_EQ(shownBoxes[0].text, L"下载尚未完成。现在关闭会保留进度，下次继续不会增加下载次数。\n\n确定关闭吗？");
    EXPECT_EQ(shownBoxes[0].type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_TRUE(::IsWindow(window_));
    EXPECT_FALSE(App().cancelRequested);

    boxAnswer = IDYES;
    HandleCloseRequest(window_);
    EXPECT_FALSE(::IsWindow(window_));
    EXPECT_TRUE(App().cancelRequested);
}

TEST_F(UserActions, ConfirmedCloseReportsTheCancellationOnce) {
    test::TempFolder localAppData(L"close-report");
    App().diagnostics = std::make_unique<RunDiagnostics>([&localAppData] { return localAppData.path(); });
    const std::wstring latest = test::InstalledDiagnostics().reportRoot() + L"\\latest-exit.txt";
    App().busy = true;
    boxAnswer = IDNO;
    HandleCloseRequest(window_);
    EXPECT_FALSE(test::FileExists(latest)) << "declined: no report";

    boxAnswer = IDYES;
    HandleCloseRequest(window_);
    const std::wstring report = Utf8ToUtf16(test::ReadBytes(latest));
    EXPECT_NE(report.find(L"\r\n分类: UserCancelled\r\n退出码: 0\r\n"), std::wstring::npos) << Utf16ToUtf8(report);
    EXPECT_NE(report.find(L"\r\n原因: 用户在下载过程中关闭了安装助手，已下载文件与会话均已保留。\r\n"), std::wstring::npos);
    EXPECT_NE(report.find(L"\r\n人工处理: 需要时重新打开程序并选择相同版本，即可继续下载且不增加次数。\r\n"),
              std::wstring::npos);
    EXPECT_TRUE(test::InstalledDiagnostics().finished());
    // The later controlled stop leaves the cancellation report alone.
    App().diagnostics.reset();
    EXPECT_EQ(Utf8ToUtf16(test::ReadBytes(latest)), report);
}

TEST_F(UserActions, AutomaticStartClosesADownloadWithoutAsking) {
    App().busy = true;
    App().autoStart = true;
    HandleCloseRequest(window_);
    EXPECT_TRUE(shownBoxes.empty());
    EXPECT_TRUE(App().cancelRequested);
    EXPECT_FALSE(::IsWindow(window_));
}

TEST_F(UserActions, CompletedRunIsAnnouncedThenTheWindowCloses) {
    App().busy = true;
    HandleWorkerDone(window_, WorkerOutcome::Completed);
    EXPECT_FALSE(App().busy);
    ASSERT_EQ(shownBoxes.size(), 1u);
    EXPECT_EQ(shownBoxes[0].caption, L"下载完成");
    EXPECT_EQ(shownBoxes[0].text, L"安装包所在文件夹和安装程序均已打开。\n\n请在安装程序中确认后继续，本下载助手现在可以关闭。");
    EXPECT_EQ(shownBoxes[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(shownBoxes[0].owner, window_);
    EXPECT_FALSE(::IsWindow(window_));
}

TEST_F(UserActions, FailedRunShowsTheWorkersMessageAndKeepsTheWindow) {
    App().busy = true;
    {
        std::lock_guard<std::mutex> lock(App().stateMutex);
        App().detailText = L"SHA-256 integrity verification failed";
    }
    HandleWorkerDone(window_, WorkerOutcome::Failed);
    EXPECT_FALSE(App().busy);
    ASSERT_EQ(shownBoxes.size(), 1u);
    EXPECT_EQ(shownBoxes[0].caption, L"下载未完成");
    EXPECT_EQ(shownBoxes[0].text, L"SHA-256 integrity verification failed");
    EXPECT_EQ(shownBoxes[0].type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
    EXPECT_TRUE(shownBoxes[0].stateLockFree);
    EXPECT_TRUE(::IsWindow(window_));

    // A server run that failed after a host was found: its message first, then the host-found state.
    SetEditionAndLan(Edition::Server, LanState::HostFound);
    App().busy = true;
    HandleWorkerDone(window_, WorkerOutcome::Failed);
    ASSERT_EQ(shownBoxes.size(), 2u);
    EXPECT_EQ(shownBoxes[1].text, L"SHA-256 integrity verification failed");
    EXPECT_EQ(ChosenEdition(), Edition::None);
    EXPECT_EQ(StatusText(), L"已发现现有主机，服务端版需要客服协助");
}

TEST_F(UserActions, AutomaticStartClosesOnEitherEndWithoutABox) {
    App().autoStart = true;
    for (WorkerOutcome outcome : {WorkerOutcome::Completed, WorkerOutcome::Failed}) {
        HWND window = ::CreateWindowExW(0, L"STATIC", L"auto", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        App().busy = true;
        HandleWorkerDone(window, outcome);
        EXPECT_FALSE(App().busy);
        EXPECT_FALSE(::IsWindow(window));
    }
    EXPECT_TRUE(shownBoxes.empty());
}

TEST_F(UserActions, TheWorkersEndIsToldInFrontOfTheWindowThatTookTheForeground) {
    // Top-level windows this time: the program's, and another one (Explorer) that took the foreground.
    HWND owner = ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    HWND other = ::CreateWindowExW(0, L"STATIC", L"other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    ASSERT_NE(other, nullptr);
    for (WorkerOutcome outcome : {WorkerOutcome::Failed, WorkerOutcome::Completed}) {
        ASSERT_TRUE(::SetForegroundWindow(other));
        ASSERT_EQ(::GetForegroundWindow(), other);
        App().busy = true;
        HandleWorkerDone(owner, outcome);
    }
    ::DestroyWindow(other);
    ASSERT_EQ(shownBoxes.size(), 2u);
    EXPECT_EQ(shownBoxes[0].caption, L"下载未完成");
    EXPECT_TRUE(shownBoxes[0].ownerInFront);
    EXPECT_EQ(shownBoxes[1].caption, L"下载完成");
    EXPECT_TRUE(shownBoxes[1].ownerInFront);
    EXPECT_FALSE(::IsWindow(owner));
}

TEST_F(UserActions, PausedRunOnlyClearsBusy) {
    App().busy = true;
    App().progressPercent = 30;
    HandleWorkerDone(window_, WorkerOutcome::Paused);
    EXPECT_FALSE(App().busy);
    EXPECT_TRUE(shownBoxes.empty());
    EXPECT_TRUE(::IsWindow(window_));
    EXPECT_EQ(App().progressPercent, 30);
}

}  // namespace
}  // namespace orivanta
