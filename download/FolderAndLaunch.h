#pragma once
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "download/LaunchCopy.h"

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

// Starts the checked copy from its launch folder, and lets it go: true only when
// a process was created; sets installerLaunched and closes the process handles at
// once. Never raises.
//
// The copy is started as a program of its own, never searched for, with its
// launch folder as its current folder and nothing of this process inherited. It
// is created suspended, the holds end once the process exists, and only then does
// the installer run, so that it may open its own file as it likes (the loader
// opens an image sharing reading and deletion, which the hold allows). Only a
// package that asks for an elevation this process cannot give is handed to the
// shell instead, still held, from the same folder. A failed launch removes the
// folder with the copy.
bool LaunchInstaller(LaunchCopy copy, const ShellCalls& shell = {});

}  // namespace orivanta
