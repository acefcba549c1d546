#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "download/FolderAndLaunch.h"
#include "TestFiles.h"
#include "state/AppState.h"

namespace orivanta {
namespace {

// What the fake shell saw, and what it answers.
struct FakeShell {
    int executeExCalls = 0;
    int executeCalls = 0;
    ULONG mask = 0;
    std::wstring verb, file, parameters;
    int show = 0;
    BOOL executeExResult = TRUE;
    HANDLE processToReturn = nullptr;
    INT_PTR executeResult = 42;
};
FakeShell fake;

std::wstring Text(const wchar_t* text) { return text ? text : L""; }

BOOL WINAPI FakeExecuteEx(SHELLEXECUTEINFOW* info) {
    ++fake.executeExCalls;
    fake.mask = info->fMask;
    fake.verb = Text(info->lpVerb);
    fake.file = Text(info->lpFile);
    fake.parameters = Text(info->lpParameters);
    fake.show = info->nShow;
    EXPECT_EQ(info->cbSize, sizeof(SHELLEXECUTEINFOW));
    EXPECT_EQ(info->lpDirectory, nullptr);
    if (fake.executeExResult && (info->fMask & SEE_MASK_NOCLOSEPROCESS)) info->hProcess = fake.processToReturn;
    return fake.executeExResult;
}

HINSTANCE WINAPI FakeExecute(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                             INT show) {
    ++fake.executeCalls;
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(parameters, nullptr);
    EXPECT_EQ(directory, nullptr);
    fake.verb = Text(verb);
    fake.file = Text(file);
    fake.show = show;
    return reinterpret_cast<HINSTANCE>(fake.executeResult);
}

class FolderAndLaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake = FakeShell{};
        App().installerLaunched = false;
        shell_.executeEx = FakeExecuteEx;
        shell_.execute = FakeExecute;
    }
    ShellCalls shell_;
};

TEST_F(FolderAndLaunchTest, ExplorerSelectsTheQuotedPath) {
    const std::wstring path = L"C:\\Clinic Packages\\欧瑞凡达 Setup.exe";
    EXPECT_EQ(ExplorerSelectParameters(path), L"/select,\"C:\\Clinic Packages\\欧瑞凡达 Setup.exe\"");

    EXPECT_TRUE(OpenFolderSelecting(path, L"C:\\Clinic Packages", shell_));
    EXPECT_EQ(fake.executeExCalls, 1);
    EXPECT_EQ(fake.executeCalls, 0);
    EXPECT_EQ(fake.mask, static_cast<ULONG>(SEE_MASK_FLAG_NO_UI));
    EXPECT_EQ(fake.verb, L"open");
    // By its full path, never searched for (the test prefix keeps Windows in C:\windows).
    EXPECT_EQ(::_wcsicmp(fake.file.c_str(), L"C:\\Windows\\explorer.exe"), 0) << fake.file;
    EXPECT_EQ(fake.parameters, L"/select,\"C:\\Clinic Packages\\欧瑞凡达 Setup.exe\"");
    EXPECT_EQ(fake.show, SW_SHOWNORMAL);
}

TEST_F(FolderAndLaunchTest, FolderIsOpenedWhenExplorerCannotStart) {
    fake.executeExResult = FALSE;
    fake.executeResult = 33;
    EXPECT_TRUE(OpenFolderSelecting(L"C:\\p\\a.exe", L"C:\\p", shell_));
    EXPECT_EQ(fake.executeCalls, 1);
    EXPECT_EQ(fake.verb, L"open");
    EXPECT_EQ(fake.file, L"C:\\p");
    EXPECT_EQ(fake.show, SW_SHOWNORMAL);

    fake.executeResult = 32;
    EXPECT_FALSE(OpenFolderSelecting(L"C:\\p\\a.exe", L"C:\\p", shell_));
    fake.executeResult = 2;
    EXPECT_FALSE(OpenFolderSelecting(L"C:\\p\\a.exe", L"C:\\p", shell_));
}

TEST_F(FolderAndLaunchTest, LaunchWithoutAProcessIsAFailure) {
    fake.processToReturn = nullptr;
    EXPECT_FALSE(LaunchInstaller(L"C:\\p\\a.exe", shell_));
    EXPECT_FALSE(App().installerLaunched.load());
    EXPECT_EQ(fake.mask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI));
    EXPECT_EQ(fake.verb, L"open");
    EXPECT_EQ(fake.file, L"C:\\p\\a.exe");
    EXPECT_TRUE(fake.parameters.empty());

    fake.executeExResult = FALSE;
    EXPECT_FALSE(LaunchInstaller(L"C:\\p\\a.exe", shell_));
    EXPECT_FALSE(App().installerLaunched.load());
}

TEST_F(FolderAndLaunchTest, LaunchClosesTheProcessHandleAtOnce) {
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    fake.processToReturn = event;
    EXPECT_TRUE(LaunchInstaller(L"C:\\p\\a.exe", shell_));
    EXPECT_TRUE(App().installerLaunched.load());
    DWORD flags = 0;
    EXPECT_FALSE(::GetHandleInformation(event, &flags)) << "the handle was left open";
}

TEST(FolderAndLaunchRealShellTest, StartsARealProgramFromAPathWithBlanks) {
    test::TempFolder folder(L"launch");
    const std::wstring programFolder = folder / L"with blank";
    ::CreateDirectoryW(programFolder.c_str(), nullptr);
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring program = programFolder + L"\\hostname.exe";
    ASSERT_TRUE(::CopyFileW((std::wstring(system) + L"\\hostname.exe").c_str(), program.c_str(), FALSE));

    App().installerLaunched = false;
    EXPECT_TRUE(LaunchInstaller(program));
    EXPECT_TRUE(App().installerLaunched.load());
}

}  // namespace
}  // namespace orivanta
