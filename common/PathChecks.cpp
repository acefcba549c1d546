#include "common/PathChecks.h"

#include <windows.h>

#include <string_view>

namespace orivanta {
namespace {

constexpr size_t kDriveRootLength = 3;  // "X:\"

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool EqualIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

// Windows drops trailing dots and blanks from a name, so "..." or ". ." could stand
// for something else than written; no name of ours ends in either.
bool IsPlainSegment(std::wstring_view segment) {
    return !segment.empty() && segment.back() != L'.' && segment.back() != L' ';
}

}  // namespace

bool IsPlainDrivePath(const std::wstring& path) {
    if (path.size() <= kDriveRootLength || !IsDriveLetter(path[0]) || path[1] != L':' || path[2] != L'\\') {
        return false;
    }
    for (size_t i = kDriveRootLength; i < path.size(); ++i) {
        const wchar_t c = path[i];
        if (c < 0x20 || std::wstring_view(L"/:*?\"<>|").find(c) != std::wstring_view::npos) return false;
    }
    for (size_t start = kDriveRootLength;;) {
        const size_t end = path.find(L'\\', start);
        const size_t length = (end == std::wstring::npos ? path.size() : end) - start;
        if (!IsPlainSegment(std::wstring_view(path).substr(start, length))) return false;
        if (end == std::wstring::npos) return true;
        start = end + 1;
    }
}

bool IsOnLocalFixedDrive(const std::wstring& path) {
    return IsPlainDrivePath(path) && ::GetDriveTypeW(path.substr(0, kDriveRootLength).c_str()) == DRIVE_FIXED;
}

bool IsReparsePoint(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool ExistsWithoutReparsePoint(const std::wstring& path) {
    if (!IsPlainDrivePath(path)) return false;
    for (size_t end = path.find(L'\\', kDriveRootLength);; end = path.find(L'\\', end + 1)) {
        const std::wstring item = path.substr(0, end);
        const DWORD attributes = ::GetFileAttributesW(item.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
        if (end == std::wstring::npos) return true;
    }
}

bool LiesDirectlyIn(const std::wstring& path, const std::wstring& folder) {
    const size_t separator = path.rfind(L'\\');
    if (separator == std::wstring::npos || separator + 1 == path.size()) return false;
    std::wstring_view container(folder);
    if (container.size() > kDriveRootLength && container.back() == L'\\') container.remove_suffix(1);
    std::wstring_view parent = std::wstring_view(path).substr(0, separator);
    // The parent of "X:\name" is the drive's root, written "X:\" as a folder.
    if (parent.size() == 2 && container.size() == kDriveRootLength) parent = std::wstring_view(path).substr(0, 3);
    return EqualIgnoringCase(parent, container);
}

}  // namespace orivanta
