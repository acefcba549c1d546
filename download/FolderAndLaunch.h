#pragma once
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "common/FolderRecords.h"
#include "storage/HeldPackage.h"

namespace orivanta {

// The system calls behind the folder and the launch, replaceable so that their
// failure modes can be exercised.
struct ShellCalls {
    BOOL(WINAPI* executeEx)(SHELLEXECUTEINFOW*) = ::ShellExecuteExW;
    HINSTANCE(WINAPI* execute)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) = ::ShellExecuteW;
    BOOL(WINAPI* createProcess)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                                LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION) = ::CreateProcessW;
};

// Explorer's arguments that select the file: /select,"<path>".
std::wstring ExplorerSelectParameters(const std::wstring& packagePath);

// Explorer by its full path: the process's current folder, or a folder on the
// search path, may hold an "explorer.exe" of anyone's making.
std::wstring ExplorerPath();

// Shows the package selected in Explorer, or at least its folder. Never raises.
bool OpenFolderSelecting(const std::wstring& packagePath, const std::wstring& folderPath,
                         const ShellCalls& shell = {});

// Starts a copy of the held package from a launch folder made for it in
// launchParent (see LaunchFolder), and lets it go: true only when a process was
// created; sets installerLaunched and closes the process handles at once. Never
// raises. Finished launch folders of earlier runs are removed first.
//
// The copy gets the package's file name (installers may read their own name) and
// is held as the package is, sharing reading only; its bytes are hashed through
// that hold and a copy that does not match expectedSha256 is never started. It is
// started as a program of its own, never searched for, with the launch folder as
// its current folder and nothing of this process inherited. It is created
// suspended, the holds end once the process exists, and only then does the
// installer run, so that it may open its own file as it likes (the loader opens an
// image sharing reading and deletion, which the hold allows). Only a package that
// asks for an elevation this process cannot give is handed to the shell instead,
// still held, from the same folder. The launch folders' IDs are kept in records.
bool LaunchInstaller(HeldPackage package, const std::string& expectedSha256, const std::wstring& launchParent,
                     const ShellCalls& shell = {}, const FolderRecords& records = kFolderRecords);

}  // namespace orivanta
