#include "download/FolderAndLaunch.h"

#include <shlwapi.h>

#include <optional>
#include <stdexcept>

#include "common/Folders.h"
#include "common/Handles.h"
#include "download/LaunchFolder.h"
#include "identity/Sha256.h"
#include "state/AppState.h"

namespace orivanta {
namespace {

constexpr DWORD kErrorElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED, not in every SDK's headers
constexpr DWORD kExplorerReadyWaitMs = 5000;

// The package's copy in the launch folder under the package's own name, held as
// the package is; empty when it cannot be written or its bytes, read back through
// that hold, are not the expected ones.
std::optional<HeldPackage> VerifiedCopy(const HeldPackage& package, const std::wstring& folder,
                                        const std::string& expectedSha256) {
    const std::wstring path = folder + L"\\" + ::PathFindFileNameW(package.Path().c_str());
    {
        const UniqueHandle target(
            ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!target || !package.CopyTo(target.get())) return std::nullopt;
    }
    HeldPackage copy = HeldPackage::Open(path, HeldPackage::Access::ReadAndRename);
    const StopFlag unstoppable{false};
    if (copy.Sha256Hex(unstoppable) != LowerCaseDigest(expectedSha256)) return std::nullopt;
    return copy;
}

}  // namespace

std::wstring ExplorerSelectParameters(const std::wstring& packagePath) {
    return L"/select,\"" + packagePath + L"\"";
}

std::wstring ExplorerPath() {
    const std::wstring windows = SystemWindowsFolder();
    return windows.empty() ? std::wstring() : windows + L"\\explorer.exe";
}

bool OpenFolderSelecting(const std::wstring& packagePath, const std::wstring& folderPath,
                         const ShellCalls& shell) {
    const std::wstring explorer = ExplorerPath();
    const std::wstring parameters = ExplorerSelectParameters(packagePath);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"open";
    info.lpFile = explorer.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!explorer.empty() && shell.executeEx(&info)) {
        // The completion box follows. Explorer's window, coming after it, would
        // cover it and take the keyboard; so the box waits, briefly, for that window.
        const UniqueHandle explorerProcess(info.hProcess);
        if (explorerProcess) ::WaitForInputIdle(explorerProcess.get(), kExplorerReadyWaitMs);
        return true;
    }
    const HINSTANCE result = shell.execute(nullptr, L"open", folderPath.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

bool LaunchInstaller(HeldPackage package, const std::string& expectedSha256, const std::wstring& launchParent,
                     const ShellCalls& shell, const FolderRecords& records) {
    try {
        RemoveFinishedLaunchFolders(launchParent, records);
        // Declared first, so that on a failure the copy is let go before the folder is removed with it.
        LaunchFolder folder = LaunchFolder::Create(launchParent, RandomLaunchFolderName, records);
        std::optional<HeldPackage> copy = VerifiedCopy(package, folder.Path(), expectedSha256);
        if (!copy) return false;
        const std::wstring& folderPath = folder.Path();
        const std::wstring copyPath = copy->Path();
        std::wstring commandLine = L"\"" + copyPath + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWNORMAL;
        PROCESS_INFORMATION created = {};
        // The installer gets the system's error mode, not this program's silenced one.
        if (shell.createProcess(copyPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                CREATE_SUSPENDED | CREATE_DEFAULT_ERROR_MODE, nullptr, folderPath.c_str(), &startup,
                                &created)) {
            UniqueHandle thread(created.hThread);
            UniqueHandle process(created.hProcess);
            // The image is mapped: what runs can no longer change, and the installer may open its own file.
            folder.Release();
            copy.reset();
            package.Release();
            if (::ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
                ::TerminateProcess(process.get(), 1);
                return false;
            }
            App().installerLaunched.exchange(true);
            return true;
        }
        if (::GetLastError() != kErrorElevationRequired) return false;

        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
        info.lpVerb = L"open";
        info.lpFile = copyPath.c_str();
        info.lpDirectory = folderPath.c_str();
        info.nShow = SW_SHOWNORMAL;
        const BOOL executed = shell.executeEx(&info);
        UniqueHandle process(executed ? info.hProcess : nullptr);
        // The shell may hand the file to something that creates no process; that is no launch.
        if (!process) return false;
        folder.Release();
        App().installerLaunched.exchange(true);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace orivanta
