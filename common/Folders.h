#pragma once
#include <string>

namespace orivanta {

// A shell folder (CSIDL number) without a trailing backslash; raises "known folder failed".
std::wstring KnownFolderPath(int csidl);
// The folder of the running Windows, shared by every user (GetSystemWindowsDirectory;
// not a per-user one under Remote Desktop); empty when unavailable.
std::wstring SystemWindowsFolder();
// Creates the folder with every missing parent; raises "create directory failed".
// An existing folder, or an existing file of that name, passes.
void EnsureDirectory(const std::wstring& path);

}  // namespace orivanta
