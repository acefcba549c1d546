#pragma once
#include <string>

namespace orivanta {

// A shell folder (CSIDL number) without a trailing backslash; raises "known folder failed".
std::wstring KnownFolderPath(int csidl);
// Creates the folder with every missing parent; raises "create directory failed".
// An existing folder, or an existing file of that name, passes.
void EnsureDirectory(const std::wstring& path);
// The same rule as a result, for callers whose failure is expected and silent.
bool TryEnsureDirectory(const std::wstring& path);

}  // namespace orivanta
