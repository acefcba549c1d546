#include "storage/HeldPackage.h"

#include <stdexcept>

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

HeldPackage HeldPackage::CopyTo(const std::wstring& path, std::string& digest, const StopFlag& stop) const {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN)) throw std::runtime_error("cannot copy package");
    {
        // Written without sharing; the loader refuses an image that is open for writing, so
        // the copy is held anew once it is complete.
        const UniqueHandle target(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!target) throw std::runtime_error("cannot copy package");
        digest = Sha256CopyFileHex(file_.get(), target.get(), stop);
    }
    return Open(path, Access::ReadAndRename);
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
