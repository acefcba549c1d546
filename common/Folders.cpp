#include "common/Folders.h"

#include <windows.h>
#include <shlobj.h>

#include <stdexcept>

namespace orivanta {

std::wstring KnownFolderPath(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, 0, buffer))) {
        throw std::runtime_error("known folder failed");
    }
    return buffer;
}

std::wstring SystemWindowsFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::wstring(buffer, length);
}

void EnsureDirectory(const std::wstring& path) {
    if (::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr) == ERROR_SUCCESS) return;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) return;
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        throw std::runtime_error("create directory failed");
    }
}

}  // namespace orivanta
