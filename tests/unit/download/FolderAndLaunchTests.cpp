#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/Handles.h"
#include "download/FolderAndLaunch.h"
#include "storage/HeldPackage.h"
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
    // CreateProcessW: what it was given, and the error it fails with (0: it succeeds).
    int createProcessCalls = 0;
    bool heldWhenCreated = false;
    std::wstring application, commandLine, directory;
    BOOL inheritHandles = TRUE;
    DWORD creationFlags = 0;
    DWORD createProcessError = 0;
    HANDLE threadToReturn = nullptr;
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

BOOL WINAPI FakeCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                              BOOL inheritHandles, DWORD creationFlags, LPVOID environment, LPCWSTR directory,
                              LPSTARTUPINFOW startup, LPPROCESS_INFORMATION created) {
    ++fake.createProcessCalls;
    fake.heldWhenCreated =
        !UniqueHandle(::CreateFileW(application, GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr)).valid();
    fake.application = Text(application);
    fake.commandLine = Text(commandLine);
    fake.directory = Text(directory);
    fake.inheritHandles = inheritHandles;
    fake.creationFlags = creationFlags;
    EXPECT_EQ(environment, nullptr);
    EXPECT_EQ(startup->wShowWindow, SW_SHOWNORMAL);
    if (fake.createProcessError != 0) {
        ::SetLastError(fake.createProcessError);
        return FALSE;
    }
    created->hProcess = fake.processToReturn;
    created->hThread = fake.threadToReturn;
    return TRUE;
}

class FolderAndLaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake = FakeShell{};
        App().installerLaunched = false;
        shell_.executeEx = FakeExecuteEx;
        shell_.execute = FakeExecute;
        shell_.createProcess = FakeCreateProcess;
    }
    // A package file in the folder, to be held; the fakes start nothing.
    static std::wstring HeldProgramPath(const std::wstring& folder) {
        ::CreateDirectoryW(folder.c_str(), nullptr);
        test::WriteBytes(folder + L"\\a.exe", "MZ");
        return folder + L"\\a.exe";
    }
    static HeldPackage Hold(const std::wstring& path) {
        return HeldPackage::Open(path, HeldPackage::Access::ReadAndRename);
    }
    ShellCalls shell_;
    test::TempFolder folder_{L"launch-fake"};
};

TEST_F(FolderAndLaunchTest, ExplorerSelectsTheQuotedPath) {
    const std::wstring path = L"C:\\Clinic Packages\\欧瑞凡达 Setup.exe";
    EXPECT_EQ(ExplorerSelectParameters(path), L"/select,\"C:\\Clinic Packages\\欧瑞凡达 Setup.exe\"");

    // Explorer's process is waited for briefly, and its handle then closed.
    fake.processToReturn = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE explorer = fake.processToReturn;
    EXPECT_TRUE(OpenFolderSelecting(path, L"C:\\Clinic Packages", shell_));
    DWORD flags = 0;
    EXPECT_FALSE(::GetHandleInformation(explorer, &flags));
    EXPECT_EQ(fake.executeExCalls, 1);
    EXPECT_EQ(fake.executeCalls, 0);
    EXPECT_EQ(fake.mask, static_cast<ULONG>(SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS));
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

// Stands for the installer's first thread: like a self-extracting installer, it opens its own file.
struct InstallerThread {
    std::wstring path;
    bool openedItself = false;
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

DWORD WINAPI OpenOwnFile(void* parameter) {
    auto* installer = static_cast<InstallerThread*>(parameter);
    installer->openedItself = UniqueHandle(::CreateFileW(installer->path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                         nullptr, OPEN_EXISTING, 0, nullptr))
                                  .valid();
    ::SetEvent(installer->done);
    return 0;
}

TEST_F(FolderAndLaunchTest, LaunchStartsTheHeldPackageAndLetsItGoBeforeItRuns) {
    const std::wstring folder = folder_ / L"p q";
    const std::wstring path = HeldProgramPath(folder);
    InstallerThread installer{path};
    fake.processToReturn = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    fake.threadToReturn = ::CreateThread(nullptr, 0, OpenOwnFile, &installer, CREATE_SUSPENDED, nullptr);
    HANDLE process = fake.processToReturn;
    HANDLE thread = fake.threadToReturn;

    EXPECT_TRUE(LaunchInstaller(Hold(path), folder, shell_));
    EXPECT_TRUE(App().installerLaunched.load());
    EXPECT_EQ(fake.application, path) << "named, never searched for";
    EXPECT_EQ(fake.commandLine, L"\"" + path + L"\"");
    EXPECT_EQ(fake.directory, folder);
    EXPECT_FALSE(fake.inheritHandles) << "the held package handle and every other stay here";
    EXPECT_EQ(fake.creationFlags, static_cast<DWORD>(CREATE_SUSPENDED | CREATE_DEFAULT_ERROR_MODE));
    EXPECT_TRUE(fake.heldWhenCreated) << "the file could be written while the process was created";
    ASSERT_EQ(::WaitForSingleObject(installer.done, 10000), WAIT_OBJECT_0) << "the installer was never resumed";
    EXPECT_TRUE(installer.openedItself) << "the installer ran while its file was still held";
    EXPECT_EQ(fake.executeExCalls, 0);
    DWORD flags = 0;
    EXPECT_FALSE(::GetHandleInformation(process, &flags)) << "the process handle was left open";
    EXPECT_FALSE(::GetHandleInformation(thread, &flags)) << "the thread handle was left open";
    ::CloseHandle(installer.done);

    // Only an elevation request goes to the shell; a file that is no program is no launch.
    App().installerLaunched = false;
    fake.createProcessError = ERROR_BAD_EXE_FORMAT;
    EXPECT_FALSE(LaunchInstaller(Hold(path), folder, shell_));
    EXPECT_EQ(fake.executeExCalls, 0);
    EXPECT_FALSE(App().installerLaunched.load());
}

TEST_F(FolderAndLaunchTest, LaunchWithoutAProcessIsAFailure) {
    fake.createProcessError = 740;  // the package asks for an elevation only the shell can obtain
    fake.processToReturn = nullptr;
    const std::wstring path = HeldProgramPath(folder_ / L"p");
    EXPECT_FALSE(LaunchInstaller(Hold(path), folder_ / L"p", shell_));
    EXPECT_FALSE(App().installerLaunched.load());
    EXPECT_EQ(fake.mask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI));
    EXPECT_EQ(fake.verb, L"open");
    EXPECT_EQ(fake.file, path);
    EXPECT_TRUE(fake.parameters.empty());

    fake.executeExResult = FALSE;
    EXPECT_FALSE(LaunchInstaller(Hold(path), folder_ / L"p", shell_));
    EXPECT_FALSE(App().installerLaunched.load());
}

TEST_F(FolderAndLaunchTest, LaunchClosesTheProcessHandleAtOnce) {
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    fake.createProcessError = 740;
    fake.processToReturn = event;
    EXPECT_TRUE(LaunchInstaller(Hold(HeldProgramPath(folder_ / L"p")), folder_ / L"p", shell_));
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
    EXPECT_TRUE(LaunchInstaller(HeldPackage::Open(program, HeldPackage::Access::Read), programFolder));
    EXPECT_TRUE(App().installerLaunched.load());
}

}  // namespace
}  // namespace orivanta
