#pragma once
#include <string>

namespace orivanta {

// True when the path itself is a reparse point: a junction, a symbolic link or
// a mount point, which would lead an elevated write somewhere else. The link
// is examined, not followed; a missing path is none.
bool IsReparsePoint(const std::wstring& path);

}  // namespace orivanta
