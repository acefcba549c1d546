#include <gtest/gtest.h>

#include <windows.h>

#include "AppStateReset.h"
#include "lan/LanDiscovery.h"
#include "state/AppState.h"
#include "state/Edition.h"

namespace orivanta {
namespace {

const LanProbeResult kHost{true, L"192.168.1.20"};
const LanProbeResult kNoHost{};

class LanPublish : public ::testing::Test {
protected:
    void SetUp() override { test::ResetAppState(); }
    void TearDown() override { test::ResetAppState(); }
};

TEST_F(LanPublish, HostFoundWithoutAChoiceRecommendsTheClientEdition) {
    PublishLanResult(kHost);
    const DisplaySnapshot s = ReadDisplaySnapshot();
    EXPECT_EQ(s.lanState, LanState::HostFound);
    EXPECT_EQ(s.lanHostText, L"192.168.1.20");
    EXPECT_EQ(s.edition, Edition::Client);
    EXPECT_EQ(s.statusText, L"已根据局域网检测推荐仅客户端版");
    EXPECT_EQ(s.detailText, L"仅客户端版 · 已发现主机 192.168.1.20:9009");
    EXPECT_FALSE(App().userChoseEdition);
}

void ExpectServerEditionWithdrawn() {
    const DisplaySnapshot s = ReadDisplaySnapshot();
    EXPECT_EQ(s.lanState, LanState::HostFound);
    EXPECT_EQ(s.lanHostText, L"192.168.1.20");
    EXPECT_EQ(s.edition, Edition::None);
    EXPECT_FALSE(App().userChoseEdition);
    EXPECT_EQ(s.statusText, L"已发现现有主机，服务端版需要客服协助");
    EXPECT_EQ(s.detailText, L"多主机安装请联系 400-100-200");
}

TEST_F(LanPublish, HostFoundWithdrawsTheServerEdition) {
    ChooseEdition(Edition::Server);
    PublishLanResult(kHost);
    ExpectServerEditionWithdrawn();
    EXPECT_FALSE(App().cancelRequested);
}

TEST_F(LanPublish, HostFoundDuringAServerDownloadPausesItAndWithdrawsTheEditionWhenItHasEnded) {
    ChooseEdition(Edition::Server);
    App().busy = true;
    PublishLanResult(kHost);
    DisplaySnapshot s = ReadDisplaySnapshot();
    EXPECT_EQ(s.lanState, LanState::HostFound);
    EXPECT_TRUE(App().cancelRequested) << "the server download is paused";
    EXPECT_EQ(s.edition, Edition::Server) << "the running request keeps its edition, and its button its meaning";
    EXPECT_EQ(s.statusText, L"已发现现有主机，服务端版需要客服协助");
    EXPECT_EQ(s.detailText, L"多主机安装请联系 400-100-200");

    WithdrawServerEditionIfHostFound();  // a window that has not seen the worker end yet
    EXPECT_EQ(ReadDisplaySnapshot().edition, Edition::Server);
    App().busy = false;
    WithdrawServerEditionIfHostFound();
    ExpectServerEditionWithdrawn();
}

TEST_F(LanPublish, HostFoundLeavesAUserChoiceOrARunningRequestAlone) {
    ChooseEdition(Edition::Client);
    PublishLanResult(kHost);
    DisplaySnapshot s = ReadDisplaySnapshot();
    EXPECT_EQ(s.lanState, LanState::HostFound);
    EXPECT_EQ(s.lanHostText, L"192.168.1.20");
    EXPECT_EQ(s.edition, Edition::Client);
    EXPECT_EQ(s.statusText, L"准备就绪");
    EXPECT_EQ(s.detailText, L"仅客户端版 · 连接现有门诊主机");

    test::ResetAppState();
    App().busy = true;
    PublishLanResult(kHost);
    s = ReadDisplaySnapshot();
    EXPECT_EQ(s.lanState, LanState::HostFound);
    EXPECT_EQ(s.edition, Edition::None);
    EXPECT_EQ(s.statusText, L"准备就绪");
    EXPECT_EQ(s.detailText, L"请选择适合您的版本");
}

TEST_F(LanPublish, NoHostChangesOnlyTheLanState) {
    ChooseEdition(Edition::Server);
    PublishLanResult(kNoHost);
    const DisplaySnapshot s = ReadDisplaySnapshot();
    EXPECT_EQ(s.lanState, LanState::NoHost);
    EXPECT_EQ(s.lanHostText, L"");
    EXPECT_EQ(s.edition, Edition::Server);
    EXPECT_TRUE(App().userChoseEdition);
    EXPECT_EQ(s.detailText, L"服务端版 · 本机将作为门诊唯一主机");
}

TEST_F(LanPublish, EitherResultNotifiesTheWindowOnce) {
    PublishLanResult(kNoHost);  // no window yet: nothing to post to
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    App().mainWindow = window;
    for (const LanProbeResult& result : {kNoHost, kHost}) {
        PublishLanResult(result);
        MSG message{};
        ASSERT_TRUE(::PeekMessageW(&message, window, 0, 0, PM_REMOVE));
        EXPECT_EQ(message.message, kRefreshMessage);
        EXPECT_EQ(message.wParam, 0u);
        EXPECT_EQ(message.lParam, 0);
        EXPECT_FALSE(::PeekMessageW(&message, window, 0, 0, PM_REMOVE));
    }
    ::DestroyWindow(window);
}

TEST(LanAdapters, LoopbackAdapterIsReadWithItsPrefix) {
    // Reading the adapter table sends nothing; loopback is present on every machine.
    bool sawLoopback = false;
    for (const LanAdapter& adapter : ReadLanAdapters()) {
        for (const LanUnicastAddress& unicast : adapter.ipv4Addresses) {
            if (unicast.address == ((127u << 24) | 1u)) {
                sawLoopback = true;
                EXPECT_EQ(adapter.interfaceType, kInterfaceTypeSoftwareLoopback);
                EXPECT_EQ(unicast.prefixLength, 8u);
            }
        }
    }
    EXPECT_TRUE(sawLoopback);
}

}  // namespace
}  // namespace orivanta
