#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/DllSearch.h"

namespace orivanta {
namespace {

std::wstring told;
void Tell(const wchar_t* text) { told += text; }
BOOL WINAPI Refuse(DWORD) { return FALSE; }
BOOL WINAPI AcceptSystem32Only(DWORD flags) { return flags == LOAD_LIBRARY_SEARCH_SYSTEM32; }

// Windows 7 without its 2011 update cannot keep the program's own folder out of the search.
TEST(DllSearch, WithoutTheRestrictionTheProgramStopsAndSaysWhy) {
    EXPECT_TRUE(RestrictDllSearchToSystem32(AcceptSystem32Only, Tell));
    EXPECT_FALSE(RestrictDllSearchToSystem32(Refuse, Tell));
    EXPECT_FALSE(RestrictDllSearchToSystem32(nullptr, Tell));
    const std::wstring reason = L"此电脑的 Windows 缺少安全更新 KB2533623，安装助手无法确保只从系统文件夹加载组件，"
                                L"为安全起见已停止运行。请通过 Windows 更新安装该更新后重试，或联系欧瑞凡达客服 "
                                L"400-100-200。";
    EXPECT_EQ(told, reason + reason);
    EXPECT_NE(FindSetDefaultDllDirectories(), nullptr);
}

}  // namespace
}  // namespace orivanta
