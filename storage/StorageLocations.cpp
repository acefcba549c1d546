#include "storage/StorageLocations.h"

#include <windows.h>
#include <shlobj.h>

#include <exception>

#include "common/Folders.h"
#include "common/ProtectedFolder.h"

namespace orivanta {
namespace {

constexpr wchar_t kPublishDriveRoot[] = L"D:\\";

bool PublishDriveQualifies() {
    if (::GetDriveTypeW(kPublishDriveRoot) != DRIVE_FIXED) return false;
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(kPublishDriveRoot, &available, nullptr, nullptr)) return false;
    return available.QuadPart > kPublishFreeSpaceThreshold;
}

// The publish folder and its cache are trusted later by an administrator: they
// are used only as folders of this program's own making, held from here on.
bool EstablishPublishFolder(SaveFolder& chosen) {
    try {
        ProtectedFolder folder = EstablishProtectedFolder(kPublishFolderD);
        if (folder.refusal != FolderRefusal::None) return false;
        ProtectedFolder cache = EstablishProtectedFolder(std::wstring(kPublishFolderD) + L"\\.cache", kPrivateFolder);
        if (cache.refusal != FolderRefusal::None) return false;
        chosen.folder = std::move(folder.handle);
        chosen.cache = std::move(cache.handle);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// A disk can be full, read-only or locked down by policy although it has room,
// so only a real file creation proves the folder usable. The file is hidden and
// removed at once; the process id keeps two instances from colliding.
bool PublishFolderAcceptsWrites(const std::wstring& folder) {
    const std::wstring probe = folder + L"\\.write-test-" + std::to_wstring(::GetCurrentProcessId());
    UniqueHandle file(::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!file) return false;
    file.reset();
    ::DeleteFileW(probe.c_str());
    return true;
}

}  // namespace

std::wstring InstallerDownloaderRoot(const std::wstring& dataRoot) {
    if (!dataRoot.empty()) return dataRoot;
    return KnownFolderPath(CSIDL_LOCAL_APPDATA) + L"\\Orivanta\\InstallerDownloader";
}

SaveFolder ChooseSaveFolder(const std::wstring& dataRoot) {
    SaveFolder chosen;
    if (!dataRoot.empty()) {
        chosen.path = dataRoot + L"\\packages";
        EnsureDirectory(chosen.path);
        return chosen;
    }
    if (PublishDriveQualifies() && EstablishPublishFolder(chosen) && PublishFolderAcceptsWrites(kPublishFolderD)) {
        chosen.path = kPublishFolderD;
        return chosen;
    }
    chosen = {InstallerDownloaderRoot(dataRoot) + L"\\packages", {}, {}};
    EnsureDirectory(chosen.path);
    return chosen;
}

}  // namespace orivanta
