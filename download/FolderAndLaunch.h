#pragma once
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace orivanta {

// The two shell calls behind the folder and the launch, replaceable so that the
// shell's failure modes can be exercised.
struct ShellCalls {
    BOOL(WINAPI* executeEx)(SHELLEXECUTEINFOW*) = ::ShellExecuteExW;
    HINSTANCE(WINAPI* execute)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) = ::ShellExecuteW;
};

// Explorer's arguments that select the file: /select,"<path>".
std::wstring ExplorerSelectParameters(const std::wstring& packagePath);

// Explorer by its full path: the process's current folder, or a folder on the
// search path, may hold an "explorer.exe" of anyone's making.
std::wstring ExplorerPath();

// Shows the package selected in Explorer, or at least its folder. Never raises.
bool OpenFolderSelecting(const std::wstring& packagePath, const std::wstring& folderPath,
                         const ShellCalls& shell = {});

// Starts the package and lets it go: true only when a process was created; sets
// installerLaunched and closes the process handle at once. Never raises.
bool LaunchInstaller(const std::wstring& packagePath, const ShellCalls& shell = {});

}  // namespace orivanta
