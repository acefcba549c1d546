#include <gtest/gtest.h>

#include <oleacc.h>

#include "AppStateReset.h"
#include "common/Handles.h"
#include "state/AppState.h"
#include "ui/AccessibleTree.h"
#include "ui/AccessibleWindow.h"

namespace orivanta {
namespace {

using C = AccessibleChild;
constexpr long kOn = STATE_SYSTEM_SELECTED | STATE_SYSTEM_CHECKED;
constexpr long kOff = STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_INVISIBLE;

// One child of one screen state: its role, its name (nullptr: not shown), the
// states that must be on and those that must be off.
struct Expected {
    C child;
    long role;
    const wchar_t* name;
    long on, off;
};
struct TreeCase {
    LanState lan;
    Edition edition;
    bool busy;
    int percent;
    FocusItem focus;
    std::vector<Expected> expected;
};

TEST(AccessibleTree, RolesNamesAndStatesFollowTheScene) {
    const TreeCase cases[] = {
        {LanState::Checking, Edition::None, false, 0, FocusItem::ServerCard,
         {{C::LanStatus, ROLE_SYSTEM_STATICTEXT, L"正在检查局域网内的门诊主机", STATE_SYSTEM_READONLY, 0},
          {C::ServerCard, ROLE_SYSTEM_RADIOBUTTON, L"服务端版", STATE_SYSTEM_FOCUSED, kOn | kOff},
          {C::ClientCard, ROLE_SYSTEM_RADIOBUTTON, L"仅客户端版", STATE_SYSTEM_FOCUSABLE, kOn | kOff},
          {C::MainButton, ROLE_SYSTEM_PUSHBUTTON, L"请选择版本", STATE_SYSTEM_UNAVAILABLE, STATE_SYSTEM_FOCUSED},
          {C::EditionLine, ROLE_SYSTEM_STATICTEXT, L"请先选择安装版本", 0, 0},
          {C::Progress, ROLE_SYSTEM_PROGRESSBAR, nullptr, 0, 0},
          {C::StatusText, ROLE_SYSTEM_STATICTEXT, nullptr, 0, 0}}},
        {LanState::HostFound, Edition::Client, false, 0, FocusItem::MainButton,
         {{C::LanStatus, ROLE_SYSTEM_STATICTEXT, L"已发现门诊主机 192.168.1.20:9009", 0, 0},
          {C::ServerCard, ROLE_SYSTEM_RADIOBUTTON, L"服务端版", STATE_SYSTEM_UNAVAILABLE, kOn},
          {C::ClientCard, ROLE_SYSTEM_RADIOBUTTON, L"仅客户端版", kOn, kOff},
          {C::MainButton, ROLE_SYSTEM_PUSHBUTTON, L"下载并安装", STATE_SYSTEM_FOCUSED, kOff}}},
        {LanState::NoHost, Edition::Server, true, 37, FocusItem::MainButton,
         {{C::ServerCard, ROLE_SYSTEM_RADIOBUTTON, L"服务端版", kOn | STATE_SYSTEM_UNAVAILABLE, 0},
          {C::ClientCard, ROLE_SYSTEM_RADIOBUTTON, L"仅客户端版", STATE_SYSTEM_UNAVAILABLE, kOn},
          {C::MainButton, ROLE_SYSTEM_PUSHBUTTON, L"暂停下载", 0, kOff},
          {C::Progress, ROLE_SYSTEM_PROGRESSBAR, L"下载进度", 0, kOff},
          {C::StatusText, ROLE_SYSTEM_STATICTEXT, L"正在下载", 0, 0},
          {C::DetailText, ROLE_SYSTEM_STATICTEXT, L"服务端版 · 官方最新版", 0, 0},
          {C::SaveLine, ROLE_SYSTEM_STATICTEXT, nullptr, 0, 0}}},
    };
    for (const TreeCase& c : cases) {
        SceneInput input{{L"正在下载", L"服务端版 · 官方最新版", L"192.168.1.20", L"D:\\packages", c.edition, c.lan,
                          c.percent, 3 << 20, 8 << 20, 0.0},
                         c.busy, HitRegion::None, c.focus};
        const auto tree = BuildAccessibleTree(input, {true});
        for (const Expected& e : c.expected) {
            const AccessibleItem& item = tree.at(static_cast<std::size_t>(e.child) - 1);
            SCOPED_TRACE(static_cast<int>(e.child));
            EXPECT_EQ(item.role, e.role);
            if (e.name == nullptr) {
                EXPECT_NE(item.state & STATE_SYSTEM_INVISIBLE, 0);
                continue;
            }
            EXPECT_EQ(item.name, e.name);
            EXPECT_EQ(item.state & (e.on | e.off), e.on);
        }
    }
}

TEST(AccessibleTree, ComposedTextsAndHitTest) {
    SceneInput input;
    input.snapshot = {L"", L"", L"192.168.1.20", L"", Edition::Client, LanState::HostFound, 37, 3 << 20, 8 << 20, 0};
    const auto tree = BuildAccessibleTree(input, {false});
    const auto& client = tree[static_cast<long>(C::ClientCard) - 1];
    EXPECT_EQ(client.description, L"推荐\n前台 / 诊室 / 其他工作站\n连接已发现的 192.168.1.20:9009\n本机不保存服务端数据");
    const auto& progress = tree[static_cast<long>(C::Progress) - 1];
    EXPECT_EQ(progress.value + L" " + progress.description, L"37% 3.0 / 8.0 MB");
    // Paused with progress: the button resumes; nothing is focused while the window is not.
    EXPECT_EQ(tree[static_cast<long>(C::MainButton) - 1].defaultAction, L"继续下载");
    for (const auto& item : tree) EXPECT_EQ(item.state & STATE_SYSTEM_FOCUSED, 0);
    EXPECT_EQ(AccessibleChildAt(tree, {300, 652}), static_cast<long>(C::Progress));
    EXPECT_EQ(AccessibleChildAt(tree, {20, 700}), CHILDID_SELF);
}

LRESULT CALLBACK AccessibleTestWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETOBJECT) {
        if (const LRESULT answer = AnswerGetObject(window, wParam, lParam)) return answer;
    }
    if (message == WM_DESTROY) DisconnectAccessibleObject();
    return ::DefWindowProcW(window, message, wParam, lParam);
}

TEST(AccessibleWindow, PlacesChildrenOnTheScaledCanvasOffersNothingWhileDisabledAndDisconnectsWithTheWindow) {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = AccessibleTestWindow;
    windowClass.lpszClassName = L"AccessibleTreeTestWindow";
    ::RegisterClassW(&windowClass);
    // The canvas drawn at half its size.
    HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, L"tree", WS_POPUP, 0, 0, 560, 355, nullptr,
                                    nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    ComPtr<IAccessible> object;
    const LRESULT answer = ::SendMessageW(window, WM_GETOBJECT, 0, OBJID_CLIENT);
    ASSERT_TRUE(SUCCEEDED(::ObjectFromLresult(answer, __uuidof(IAccessible), 0, object.put_void())));
    VARIANT button{};
    button.vt = VT_I4;
    button.lVal = static_cast<long>(C::MainButton);
    LONG left = 0, top = 0, width = 0, height = 0;
    ASSERT_EQ(object->accLocation(&left, &top, &width, &height, button), S_OK);
    EXPECT_EQ(std::vector<LONG>({left, top, width, height}), std::vector<LONG>({442, 299, 82, 27}));

    // A message box the window owns disables it: then the button is unavailable and does nothing.
    test::ResetAppState();
    App().edition = Edition::Client;
    for (const bool enabled : {false, true}) {
        ::EnableWindow(window, enabled);
        VARIANT state{};
        ASSERT_EQ(object->get_accState(button, &state), S_OK);
        EXPECT_EQ((state.lVal & STATE_SYSTEM_UNAVAILABLE) != 0, !enabled);
        EXPECT_EQ(object->accDoDefaultAction(button), enabled ? S_OK : DISP_E_MEMBERNOTFOUND);
    }
    test::ResetAppState();

    ::DestroyWindow(window);
    BSTR name = nullptr;
    EXPECT_EQ(object->get_accName(button, &name), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(object->accDoDefaultAction(button), CO_E_OBJNOTCONNECTED);
    object.reset();
    ::CoUninitialize();
}

}  // namespace
}  // namespace orivanta
