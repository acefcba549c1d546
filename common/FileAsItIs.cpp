#include "common/FileAsItIs.h"

#include <vector>

namespace orivanta {
namespace {

DWORD AttributesOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    return ::GetFileInformationByHandle(file, &information) ? information.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

}  // namespace

UniqueHandle OpenFileAsItIs(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                            SECURITY_ATTRIBUTES* security) {
    UniqueHandle file(::CreateFileW(path.c_str(), access, share, security, disposition,
                                    flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return file;
    const DWORD attributes = AttributesOf(file.get());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        file.reset();
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
    }
    return file;
}

bool DeleteFileAsItIs(const std::wstring& path) {
    const UniqueHandle entry(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!entry) return false;
    const DWORD attributes = AttributesOf(entry.get());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    return DeleteByHandle(entry.get());
}

bool DeleteByHandle(HANDLE file) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

bool RenameByHandle(HANDLE file, const std::wstring& path, bool replace) {
    // The name follows the structure; its own FileName[1] leaves room for the terminating zero.
    const DWORD nameBytes = static_cast<DWORD>(path.size() * sizeof(wchar_t));
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nameBytes, 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = nameBytes;
    path.copy(rename->FileName, path.size());
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != FALSE;
}

}  // namespace orivanta
