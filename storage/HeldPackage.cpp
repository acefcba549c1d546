#include "storage/HeldPackage.h"

#include <stdexcept>
#include <vector>

#include "common/FileAsItIs.h"
#include "identity/Sha256.h"

namespace orivanta {

HeldPackage HeldPackage::Open(const std::wstring& path, Access access) {
    const DWORD rights = GENERIC_READ | (access == Access::ReadAndRename ? DELETE : 0);
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which the checks below refuse.
    UniqueHandle file(::CreateFileW(path.c_str(), rights, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || ::GetFileType(file.get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(file.get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        throw std::runtime_error("cannot open downloaded file");
    }
    return HeldPackage(std::move(file), path);
}

std::int64_t HeldPackage::Size() const {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(file_.get(), &size) ? size.QuadPart : -1;
}

std::string HeldPackage::Sha256Hex(const StopFlag& stop) const {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN)) {
        throw std::runtime_error("cannot open downloaded file");
    }
    return Sha256OpenFileHex(file_.get(), stop);
}

bool HeldPackage::CopyTo(HANDLE destination) const {
    constexpr DWORD kChunkBytes = 1 << 20;
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN)) return false;
    std::vector<char> buffer(kChunkBytes);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file_.get(), buffer.data(), kChunkBytes, &read, nullptr)) return false;
        if (read == 0) return true;
        DWORD written = 0;
        if (!::WriteFile(destination, buffer.data(), read, &written, nullptr) || written != read) return false;
    }
}

bool HeldPackage::MoveTo(const std::wstring& path) {
    if (!RenameByHandle(file_.get(), path, true)) return false;
    path_ = path;
    return true;
}

bool HeldPackage::Delete() {
    if (!DeleteByHandle(file_.get())) return false;
    file_.reset();
    return true;
}

}  // namespace orivanta
