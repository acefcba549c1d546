#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/Handles.h"
#include "common/Utf.h"
#include "download/FolderAndLaunch.h"
#include "download/LaunchFolder.h"
#include "identity/Sha256.h"
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
    std::wstring verb, file, parameters, shellDirectory;
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
    fake.shellDirectory = Text(info->lpDirectory);
    fake.show = info->nShow;
    EXPECT_EQ(info->cbSize, sizeof(SHELLEXECUTEINFOW));
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
        ::CreateDirectoryW(parent_.c_str(), nullptr);
    }
    // A package file in the folder, to be held; the fakes start nothing.
    static std::wstring HeldProgramPath(const std::wstring& folder) {
        ::CreateDirectoryW(folder.c_str(), nullptr);
        test::WriteBytes(folder + L"\\a.exe", "MZ");
        return folder + L"\\a.exe";
    }
    bool Launch(const std::wstring& path, std::string digest = {}) {
        if (digest.empty()) digest = Sha256FileHex(path, unstoppable_);
        return LaunchInstaller(HeldPackage::Open(path, HeldPackage::Access::ReadAndRename), digest, parent_, shell_);
    }
    ShellCalls shell_;
    test::TempFolder folder_{L"launch-fake"};
    const std::wstring parent_ = folder_ / L"launches";
    const StopFlag unstoppable_{false};
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
    EXPECT_TRUE(fake.shellDirectory.empty());
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
    bool openedItself = false;
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

DWORD WINAPI OpenOwnFile(void* parameter) {
    auto* installer = static_cast<InstallerThread*>(parameter);
    installer->openedItself = UniqueHandle(::CreateFileW(fake.application.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                         nullptr, OPEN_EXISTING, 0, nullptr))
                                  .valid();
    ::SetEvent(installer->done);
    return 0;
}

TEST_F(FolderAndLaunchTest, LaunchStartsAVerifiedCopyAloneInAFreshFolderAndLetsItGoBeforeItRuns) {
    const std::wstring folder = folder_ / L"p q";
    const std::wstring path = HeldProgramPath(folder);
    test::WriteBytes(folder + L"\\version.dll", "planted beside the published package");
    InstallerThread installer;
    fake.processToReturn = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    fake.threadToReturn = ::CreateThread(nullptr, 0, OpenOwnFile, &installer, CREATE_SUSPENDED, nullptr);
    HANDLE process = fake.processToReturn;
    HANDLE thread = fake.threadToReturn;

    EXPECT_TRUE(Launch(path));
    EXPECT_TRUE(App().installerLaunched.load());
    const std::vector<std::wstring> made = test::EntryNames(parent_);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].rfind(kLaunchFolderPrefix, 0), 0u) << Utf16ToUtf8(made[0]);
    const std::wstring launchFolder = parent_ + L"\\" + made[0];
    EXPECT_EQ(test::EntryNames(launchFolder), std::vector<std::wstring>{L"a.exe"});
    EXPECT_EQ(test::ReadBytes(launchFolder + L"\\a.exe"), "MZ");
    EXPECT_EQ(fake.application, launchFolder + L"\\a.exe") << "named, never searched for";
    EXPECT_EQ(fake.commandLine, L"\"" + fake.application + L"\"");
    EXPECT_EQ(fake.directory, launchFolder);
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
    EXPECT_FALSE(Launch(path));
    EXPECT_EQ(fake.executeExCalls, 0);
    EXPECT_FALSE(App().installerLaunched.load());
    // The earlier launch's folder went first, since nothing runs from it; a failed launch leaves none.
    EXPECT_TRUE(test::EntryNames(parent_).empty());

    // A copy that is not the verified package never starts.
    fake.createProcessCalls = 0;
    EXPECT_FALSE(Launch(path, Sha256Hex("MZ but another program")));
    EXPECT_EQ(fake.createProcessCalls + fake.executeExCalls, 0);
    EXPECT_TRUE(test::EntryNames(parent_).empty());
}

TEST_F(FolderAndLaunchTest, LaunchWithoutAProcessIsAFailure) {
    fake.createProcessError = 740;  // the package asks for an elevation only the shell can obtain
    fake.processToReturn = nullptr;
    const std::wstring path = HeldProgramPath(folder_ / L"p");
    EXPECT_FALSE(Launch(path));
    EXPECT_FALSE(App().installerLaunched.load());
    EXPECT_EQ(fake.mask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI));
    EXPECT_EQ(fake.verb, L"open");
    EXPECT_EQ(fake.file, fake.directory + L"\\a.exe") << "the copy CreateProcess was given";
    EXPECT_EQ(fake.shellDirectory, fake.directory);
    EXPECT_EQ(fake.directory.rfind(parent_ + L"\\" + kLaunchFolderPrefix, 0), 0u);
    EXPECT_TRUE(fake.parameters.empty());
    EXPECT_TRUE(test::EntryNames(parent_).empty());

    fake.executeExResult = FALSE;
    EXPECT_FALSE(Launch(path));
    EXPECT_FALSE(App().installerLaunched.load());
}

TEST_F(FolderAndLaunchTest, LaunchClosesTheProcessHandleAtOnce) {
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    fake.createProcessError = 740;
    fake.processToReturn = event;
    EXPECT_TRUE(Launch(HeldProgramPath(folder_ / L"p")));
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
    const StopFlag unstoppable{false};
    const std::string digest = Sha256FileHex(program, unstoppable);
    EXPECT_TRUE(LaunchInstaller(HeldPackage::Open(program, HeldPackage::Access::Read), digest, folder.path()));
    EXPECT_TRUE(App().installerLaunched.load());
}

TEST(LaunchFolderTest, ANameThatExistsIsNeverTakenNorAParentThatIsALink) {
    test::TempFolder parent(L"launch-names");
    ::CreateDirectoryW((parent / L"taken").c_str(), nullptr);
    test::WriteBytes(parent / L"taken\\version.dll", "planted");
    const std::vector<std::wstring> names{L"taken", L"fresh"};
    size_t next = 0;
    {
        const LaunchFolder folder = LaunchFolder::Create(parent.path(), [&] { return names[next++]; });
        EXPECT_EQ(folder.Path(), parent / L"fresh");
    }
    EXPECT_EQ(test::EntryNames(parent.path()), std::vector<std::wstring>{L"taken"}) << "the unused one is removed";
    EXPECT_EQ(test::EntryNames(parent / L"taken"), std::vector<std::wstring>{L"version.dll"});
    EXPECT_THROW(LaunchFolder::Create(parent.path(), [] { return std::wstring(L"taken"); }), std::runtime_error);
    ASSERT_TRUE(test::MakeUnixSymbolicLink(parent / L"link", parent / L"taken"));
    EXPECT_THROW(LaunchFolder::Create(parent / L"link"), std::runtime_error);
}

void ExpectOnlyFinishedLaunchFoldersRemoved(const FolderRecords& records) {
    test::TempFolder parent(L"launch-clean");
    test::TempFolder outside(L"launch-outside");
    test::WriteBytes(outside / L"keep.txt", "not ours");
    const std::wstring prefix = kLaunchFolderPrefix;
    const auto makeFolder = [&](const std::wstring& name) {
        LaunchFolder folder = LaunchFolder::Create(parent.path(), [&] { return name; }, records);
        folder.Release();
        return parent / name;
    };
    // An installer that ran and left files and a folder; one folder holding a link; a link named like ours;
    // a folder named like ours that someone else made.
    ::CreateDirectoryW((parent / (prefix + L"planted")).c_str(), nullptr);
    test::WriteBytes(parent / (prefix + L"planted\\setup.exe"), "MZ");
    const std::wstring done = makeFolder(prefix + L"done");
    test::WriteBytes(done + L"\\setup.exe", "MZ");
    ::CreateDirectoryW((done + L"\\extracted").c_str(), nullptr);
    test::WriteBytes(done + L"\\extracted\\data.bin", "data");
    ASSERT_TRUE(test::MakeUnixSymbolicLink(makeFolder(prefix + L"linked") + L"\\link", outside.path()));
    ASSERT_TRUE(test::MakeUnixSymbolicLink(parent / (prefix + L"link"), outside.path()));
    // An installer still running: a real program, mapped by a suspended process.
    const std::wstring running = makeFolder(prefix + L"running");
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(::CopyFileW(self, (running + L"\\setup.exe").c_str(), FALSE));
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(::CreateProcessW((running + L"\\setup.exe").c_str(), nullptr, nullptr, nullptr, FALSE,
                                 CREATE_SUSPENDED, nullptr, running.c_str(), &startup, &started));
    UniqueHandle process(started.hProcess), thread(started.hThread);

    RemoveFinishedLaunchFolders(parent.path(), records);
    EXPECT_EQ(test::EntryNames(parent.path()), (std::vector<std::wstring>{prefix + L"link", prefix + L"linked",
                                                                 prefix + L"planted", prefix + L"running"}));
    EXPECT_EQ(test::EntryNames(running), std::vector<std::wstring>{L"setup.exe"});
    EXPECT_EQ(test::EntryNames(parent / (prefix + L"planted")), std::vector<std::wstring>{L"setup.exe"});
    EXPECT_EQ(test::EntryNames(outside.path()), std::vector<std::wstring>{L"keep.txt"});

    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 10000);
    RemoveFinishedLaunchFolders(parent.path(), records);
    EXPECT_FALSE(test::DirectoryExists(running));
}

// With the IDs in the registry, and in files as under a data root.
TEST(LaunchFolderTest, OnlyFinishedLaunchFoldersAreRemovedAndNoLinkIsFollowed) {
    ExpectOnlyFinishedLaunchFoldersRemoved({HKEY_CURRENT_USER, L"Software\\OrivantaTests\\LaunchFolders"});
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\OrivantaTests\\LaunchFolders");
    const test::TempFolder files(L"launch-records");
    ExpectOnlyFinishedLaunchFoldersRemoved(RecordsInFolder(files.path()));
    const std::vector<std::wstring> kept{kLaunchFolderPrefix + std::wstring(L"linked.id")};
    EXPECT_EQ(test::EntryNames(files.path()), kept) << "the records of removed folders go with them";
}

}  // namespace
}  // namespace orivanta
