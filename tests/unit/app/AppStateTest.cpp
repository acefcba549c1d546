#include <gtest/gtest.h>

#include "AppStateReset.h"
#include "state/AppState.h"

namespace orivanta {
namespace {

TEST(AppState, FreshStateShowsReadyWithNoEditionWhileStillChecking) {
    test::ResetAppState();
    const DisplaySnapshot snapshot = ReadDisplaySnapshot();
    EXPECT_EQ(snapshot.statusText, L"准备就绪");
    EXPECT_EQ(snapshot.detailText, L"请选择适合您的版本");
    EXPECT_EQ(snapshot.edition, Edition::None);
    EXPECT_EQ(snapshot.lanState, LanState::Checking);
}

TEST(AppState, EditionChoiceResetsProgressAndTexts) {
    test::ResetAppState();
    App().progressPercent = 100;
    App().bytesDone = 500;
    App().bytesTotal = 500;
    SetStatusAndDetail(L"下载完成", L"x");
    ChooseEdition(Edition::Server);
    DisplaySnapshot snapshot = ReadDisplaySnapshot();
    EXPECT_EQ(snapshot.edition, Edition::Server);
    EXPECT_EQ(snapshot.progressPercent, 0);
    EXPECT_EQ(snapshot.bytesDone, 0);
    EXPECT_EQ(snapshot.bytesTotal, 0);
    EXPECT_EQ(snapshot.statusText, L"准备就绪");
    EXPECT_EQ(snapshot.detailText, L"服务端版 · 本机将作为门诊唯一主机");
    EXPECT_TRUE(App().userChoseEdition);
    ChooseEdition(Edition::Client);
    EXPECT_EQ(ReadDisplaySnapshot().detailText, L"仅客户端版 · 连接现有门诊主机");
    test::ResetAppState();
}

TEST(AppState, PostsReachTheWindowThreadQueueOnly) {
    test::ResetAppState();
    // Without a window nothing is posted and nothing fails.
    PostRefresh();
    PostWorkerDone(WorkerOutcome::Paused);

    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    App().mainWindow = window;
    PostRefresh();
    PostWorkerDone(WorkerOutcome::Completed);
    MSG message{};
    ASSERT_TRUE(::PeekMessageW(&message, window, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, kRefreshMessage);
    ASSERT_TRUE(::PeekMessageW(&message, window, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, kWorkerDoneMessage);
    EXPECT_EQ(message.wParam, static_cast<WPARAM>(WorkerOutcome::Completed));
    EXPECT_FALSE(::PeekMessageW(&message, window, 0, 0, PM_REMOVE));
    ::DestroyWindow(window);
    test::ResetAppState();
}

}  // namespace
}  // namespace orivanta
