#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/DllSearch.h"

namespace orivanta {
namespace {

std::wstring told;
DWORD flagsAsked = 0;

void Tell(const wchar_t* text) { told += text; }
BOOL WINAPI Refuse(DWORD flags) {
    flagsAsked = flags;
    return FALSE;
}
BOOL WINAPI Accept(DWORD flags) {
    flagsAsked = flags;
    return TRUE;
}

// Windows 7 without its 2011 update has no way to keep the program's own folder out of the search.
TEST(DllSearch, WithoutTheRestrictionTheProgramStopsAndSaysWhy) {
    const struct {
        SetDefaultDllDirectoriesFunction function;
        bool restricted;
    } cases[] = {{Accept, true}, {Refuse, false}, {nullptr, false}};
    for (const auto& c : cases) {
        told.clear();
        EXPECT_EQ(RestrictDllSearchToSystem32(c.function, Tell), c.restricted);
        EXPECT_EQ(told.empty(), c.restricted);
    }
    EXPECT_EQ(flagsAsked, static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32));
    EXPECT_EQ(told, L"此电脑的 Windows 缺少安全更新 KB2533623，安装助手无法确保只从系统文件夹加载组件，为安全起见已停止"
                    L"运行。请通过 Windows 更新安装该更新后重试，或联系欧瑞凡达客服 400-100-200。");
    EXPECT_NE(FindSetDefaultDllDirectories(), nullptr);
}

}  // namespace
}  // namespace orivanta
