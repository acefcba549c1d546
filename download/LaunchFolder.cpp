#include "download/LaunchFolder.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <vector>

#include "common/AdministratorsOnly.h"
#include "common/FileAsItIs.h"
#include "common/FolderRecords.h"
#include "common/Folders.h"
#include "common/GuidText.h"
#include "common/PathChecks.h"
#include "common/ProtectedFolder.h"

namespace orivanta {
namespace {

constexpr int kNameAttempts = 8;
// Opened as they are: on Windows a link is then the link itself. Wine opens its
// target all the same, so what the listing says counts as well.
constexpr DWORD kOpenAsItIs = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
// Held without delete sharing, so that no path below it can be redirected meanwhile.
constexpr DWORD kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kHoldAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
constexpr DWORD kRemovalAccess = DELETE | kHoldAccess;

[[noreturn]] void FailCreating() { throw std::runtime_error("launch folder could not be created"); }

UniqueHandle OpenAsItIs(const std::wstring& path, DWORD access = kRemovalAccess) {
    return UniqueHandle(
        ::CreateFileW(path.c_str(), access, kShareAllButDelete, nullptr, OPEN_EXISTING, kOpenAsItIs, nullptr));
}

DWORD AttributesOf(HANDLE item) {
    BY_HANDLE_FILE_INFORMATION information{};
    return ::GetFileInformationByHandle(item, &information) ? information.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool IsFolderItself(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool RemoveItem(const std::wstring& path, DWORD listedAttributes);

// Deletes what a held folder holds, listed through its handle: programs first and
// the oldest of them (the installer) before all, since while it runs its file
// cannot be deleted, and then nothing it may still use is. A folder that holds a
// link is left as it is (Wine opens a link's target even when asked for the link
// itself). False as soon as an entry stays.
bool EmptyHeldFolder(const std::wstring& path, HANDLE folder) {
    struct Entry {
        std::wstring name;
        DWORD attributes;
        bool program;
        std::int64_t created;
    };
    std::vector<Entry> entries;
    std::vector<std::uint64_t> buffer(8192);
    for (FILE_INFO_BY_HANDLE_CLASS listing = FileIdBothDirectoryRestartInfo;; listing = FileIdBothDirectoryInfo) {
        if (!::GetFileInformationByHandleEx(folder, listing, buffer.data(),
                                            static_cast<DWORD>(buffer.size() * sizeof(buffer[0])))) {
            if (::GetLastError() != ERROR_NO_MORE_FILES) return false;
            break;
        }
        const auto* entry = reinterpret_cast<const unsigned char*>(buffer.data());
        for (;;) {
            const auto* information = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(entry);
            const std::wstring name(information->FileName, information->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                if (information->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
                const bool program = (information->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                                     ::_wcsicmp(::PathFindExtensionW(name.c_str()), L".exe") == 0;
                entries.push_back({name, information->FileAttributes, program, information->CreationTime.QuadPart});
            }
            if (information->NextEntryOffset == 0) break;
            entry += information->NextEntryOffset;
        }
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.program != b.program) return a.program;
        return a.created < b.created;
    });
    for (const Entry& entry : entries) {
        if (!RemoveItem(path + L"\\" + entry.name, entry.attributes)) return false;
    }
    return true;
}

bool RemoveHeldFolder(const std::wstring& path, HANDLE folder) {
    return EmptyHeldFolder(path, folder) && DeleteByHandle(folder);
}

// Removes a launch folder of ours, and its record with it.
void RemoveLaunchFolder(const std::wstring& path, const FolderRecords& records) {
    const UniqueHandle folder = OpenAsItIs(path);
    FolderId id;
    if (!folder || !IsFolderItself(AttributesOf(folder.get())) || !ReadFolderId(folder.get(), id) ||
        !IsRecordedFolder(records, path, id)) {
        return;
    }
    if (RemoveHeldFolder(path, folder.get())) ForgetFolder(records, path);
}

// The item as listed: a folder stays a folder, a file a file, and neither is a link.
bool RemoveItem(const std::wstring& path, DWORD listedAttributes) {
    const UniqueHandle item = OpenAsItIs(path);
    if (!item) return false;
    const DWORD attributes = AttributesOf(item.get());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != (listedAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    if (IsFolderItself(attributes)) return RemoveHeldFolder(path, item.get());
    return DeleteByHandle(item.get());
}

}  // namespace

std::wstring LaunchFolderParent(const std::wstring& dataRoot) {
    if (!dataRoot.empty()) return dataRoot + L"\\launch";
    const std::wstring windows = SystemWindowsFolder();
    return windows.empty() ? std::wstring() : windows + L"\\Temp";
}

FolderRecords LaunchFolderRecords(const std::wstring& dataRoot) {
    return dataRoot.empty() ? kFolderRecords : RecordsInFolder(LaunchFolderParent(dataRoot));
}

std::wstring RandomLaunchFolderName() { return kLaunchFolderPrefix + NewGuidText(); }

LaunchFolder LaunchFolder::Create(const std::wstring& parent, const std::function<std::wstring()>& names,
                                  const FolderRecords& records) {
    if (!IsPlainDrivePath(parent) || !ExistsWithoutReparsePoint(parent)) FailCreating();
    const UniqueLocalMemory descriptor = DescriptorFromSddl(kProtectedFolderSecurity);
    if (!descriptor) FailCreating();
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor.get(), FALSE};
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::wstring path = parent + L"\\" + names();
        if (!::CreateDirectoryW(path.c_str(), &security)) {
            if (::GetLastError() == ERROR_ALREADY_EXISTS) continue;
            FailCreating();
        }
        // Held without delete access itself, so that the installer can open it as its current folder.
        UniqueHandle handle = OpenAsItIs(path, kHoldAccess);
        const auto abandon = [&] {
            handle.reset();
            ::RemoveDirectoryW(path.c_str());
        };
        if (!handle || !IsFolderItself(AttributesOf(handle.get()))) {
            abandon();
            FailCreating();
        }
        try {
            RecordFolder(records, path, handle.get());
        } catch (const std::exception&) {
            abandon();
            std::throw_with_nested(std::runtime_error("launch folder could not be created"));
        }
        return LaunchFolder(std::move(handle), path, records);
    }
    FailCreating();
}

LaunchFolder::~LaunchFolder() {
    if (!handle_) return;
    handle_.reset();
    RemoveLaunchFolder(path_, records_);
}

void RemoveFinishedLaunchFolders(const std::wstring& parent, const FolderRecords& records) {
    if (parent.empty()) return;
    const std::wstring prefix = kLaunchFolderPrefix;
    WIN32_FIND_DATAW found{};
    UniqueFindHandle find(::FindFirstFileExW((parent + L"\\" + prefix + L"*").c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0));
    if (!find) return;
    do {
        const std::wstring name = found.cFileName;
        // The pattern also matches short names; a link, even named like ours, is no launch folder.
        if (name.compare(0, prefix.size(), prefix) != 0 || !IsFolderItself(found.dwFileAttributes)) continue;
        RemoveLaunchFolder(parent + L"\\" + name, records);
    } while (::FindNextFileW(find.get(), &found));
}

}  // namespace orivanta
