#include "common/AtomicFile.h"

#include <exception>

#include "common/FileAsItIs.h"
#include "common/GuidText.h"
#include "common/Handles.h"
#include "common/Utf.h"

namespace orivanta {
namespace {

constexpr DWORD kTemporaryAccess = GENERIC_WRITE | DELETE;

bool NameTaken() {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// A temporary file of its own beside the target, never one found there: a link
// put at the predictable name is not followed, and what stands there is left as
// it is (a run that died mid-write, or someone else, left it).
UniqueHandle CreateTemporary(const std::wstring& target, std::wstring& temporary) {
    temporary = target + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    UniqueHandle file = OpenFileAsItIs(temporary, kTemporaryAccess, 0, CREATE_NEW);
    if (file || !NameTaken()) return file;
    try {
        temporary = target + L"." + NewGuidText() + L".tmp";
    } catch (const std::exception&) {
        return {};
    }
    return OpenFileAsItIs(temporary, kTemporaryAccess, 0, CREATE_NEW);
}

}  // namespace

bool WriteFileAtomically(const std::wstring& target, const std::wstring& content) {
    std::wstring temporary;
    const UniqueHandle file = CreateTemporary(target, temporary);
    if (!file) return false;
    const std::string bytes = Utf16ToUtf8(content);
    DWORD done = 0;
    const bool written = ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
                         done == bytes.size() && ::FlushFileBuffers(file.get());
    // Moved and, on failure, deleted through its handle: by name it could be another file by then.
    if (written && RenameByHandle(file.get(), target, true)) return true;
    DeleteByHandle(file.get());
    return false;
}

}  // namespace orivanta
