#include "storage/StorageLocations.h"

#include <shlobj.h>

#include <exception>

#include "common/FileAsItIs.h"
#include "common/Folders.h"
#include "common/ProtectedFolder.h"

namespace orivanta {
namespace {

constexpr wchar_t kPublishDriveRoot[] = L"D:\\";
constexpr wchar_t kDownloaderFolder[] = L"Orivanta\\InstallerDownloader";

// The publish folder and its cache are trusted later by an administrator: they
// are used only as folders of this program's own making, held from here on.
bool EstablishPublishFolder(SaveFolder& chosen) {
    try {
        ProtectedFolder folder = EstablishProtectedFolder(kPublishFolderD);
        if (folder.refusal != FolderRefusal::None) return false;
        ProtectedFolder cache = EstablishProtectedFolder(std::wstring(kPublishFolderD) + L"\\.cache", kPrivateFolder);
        if (cache.refusal != FolderRefusal::None) return false;
        chosen.held.Keep(std::move(folder.handle));
        chosen.held.Keep(std::move(cache.handle));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// A disk can be full, read-only or locked down by policy although it has room,
// so only a real file creation proves the folder usable. The file is a new one,
// hidden, and deleted through its handle as it closes; the process id keeps two
// instances from colliding.
bool PublishFolderAcceptsWrites(const std::wstring& folder) {
    const std::wstring probe = folder + L"\\.write-test-" + std::to_wstring(::GetCurrentProcessId());
    return static_cast<bool>(OpenFileAsItIs(probe, GENERIC_WRITE | DELETE, 0, CREATE_NEW,
                                            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY |
                                                FILE_FLAG_DELETE_ON_CLOSE));
}

}  // namespace

UINT QueryDriveType(const wchar_t* root) { return ::GetDriveTypeW(root); }

bool QueryAvailableBytes(const wchar_t* root, std::uint64_t& bytes) {
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(root, &available, nullptr, nullptr)) return false;
    bytes = available.QuadPart;
    return true;
}

bool QueryFileSystemFlags(const wchar_t* root, DWORD& flags) {
    return ::GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) != FALSE;
}

std::wstring InstallerDownloaderRoot(const std::wstring& dataRoot) {
    if (!dataRoot.empty()) return dataRoot;
    return KnownFolderPath(CSIDL_LOCAL_APPDATA) + L"\\" + kDownloaderFolder;
}

HeldFolders HoldInDownloaderRoot(const std::wstring& dataRoot, const std::wstring& relative) {
    if (!dataRoot.empty()) return HoldInDataRoot(dataRoot, relative);
    HeldFolders held;
    held.HoldBelow(KnownFolderPath(CSIDL_LOCAL_APPDATA), std::wstring(kDownloaderFolder) + L"\\" + relative);
    return held;
}

bool PublishDriveQualifies(const PublishDriveProbe& probe) {
    std::uint64_t available = 0;
    DWORD flags = 0;
    return probe.driveType(kPublishDriveRoot) == DRIVE_FIXED && probe.availableBytes(kPublishDriveRoot, available) &&
           available > kPublishFreeSpaceThreshold && probe.fileSystemFlags(kPublishDriveRoot, flags) &&
           (flags & FILE_PERSISTENT_ACLS) != 0;
}

SaveFolder ChooseSaveFolder(const std::wstring& dataRoot, const PublishDriveProbe& probe) {
    SaveFolder chosen;
    // A data root replaces every usual location: no drive is even probed.
    if (dataRoot.empty() && PublishDriveQualifies(probe) && EstablishPublishFolder(chosen) &&
        PublishFolderAcceptsWrites(kPublishFolderD)) {
        chosen.path = kPublishFolderD;
        return chosen;
    }
    chosen.path = InstallerDownloaderRoot(dataRoot) + L"\\packages";
    chosen.held = HoldInDownloaderRoot(dataRoot, L"packages\\.cache");
    return chosen;
}

}  // namespace orivanta
