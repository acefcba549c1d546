#include "common/ProtectedFolder.h"

#include <winternl.h>

#include <stdexcept>

#include "common/FileAsItIs.h"
#include "common/GuidText.h"

namespace orivanta {
namespace {

// Opened as they are (a link is not followed). Listing the folder is a data
// access, so the held handle takes part in sharing: without delete sharing the
// folder cannot be renamed while held.
constexpr DWORD kHeldAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr DWORD kSetAsideAccess = DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kOpenAsItIs = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);
// Someone who keeps putting a folder back at the place wins only a refusal.
constexpr int kAttempts = 3;

UniqueHandle OpenAsItIs(const std::wstring& path, DWORD access) {
    return UniqueHandle(
        ::CreateFileW(path.c_str(), access, kShareAllButDelete, nullptr, OPEN_EXISTING, kOpenAsItIs, nullptr));
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// Creates the folder only where nothing stands and returns the very folder it
// made, already held: between a creation by name and an open by name someone
// could put another in its place. taken tells that something is there.
UniqueHandle CreateHeldFolder(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor, bool& taken) {
    std::wstring ntPath = L"\\??\\" + folder;
    const auto bytes = static_cast<USHORT>(ntPath.size() * sizeof(wchar_t));
    UNICODE_STRING name{bytes, bytes, ntPath.data()};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, descriptor);
    IO_STATUS_BLOCK io{};
    HANDLE created = nullptr;
    const NTSTATUS status = ::NtCreateFile(&created, kHeldAccess, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                                           kShareAllButDelete, FILE_CREATE,
                                           FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    taken = status == kNameCollision;
    return UniqueHandle(status >= 0 ? created : nullptr);
}

// Renames what stands at the folder's place to a name that says whose it is,
// through a handle of its own: nothing it holds is opened, moved or changed.
bool SetAside(const std::wstring& folder) {
    const UniqueHandle foreign = OpenAsItIs(folder, kSetAsideAccess);
    if (!foreign) return false;
    return RenameByHandle(foreign.get(), folder + L".foreign-" + NewGuidText(), false);
}

ProtectedFolder Held(UniqueHandle handle) {
    ProtectedFolder result;
    result.handle = std::move(handle);
    return result;
}

ProtectedFolder Refused(FolderRefusal refusal) {
    ProtectedFolder result;
    result.refusal = refusal;
    return result;
}

// What stands at the folder's place, opened as it is and held. A link is refused
// before it is opened and looked at again once opened, in case it was put there in
// between (Wine opens a link's target even when asked for the link itself).
struct Existing {
    FolderRefusal refusal = FolderRefusal::None;
    UniqueHandle handle;
    bool described = false;  // information read through the handle
    BY_HANDLE_FILE_INFORMATION information{};
};

Existing OpenExisting(const std::wstring& folder) {
    Existing existing;
    const DWORD found = ::GetFileAttributesW(folder.c_str());
    if (found != INVALID_FILE_ATTRIBUTES && IsLink(found)) {
        existing.refusal = FolderRefusal::ReparsePoint;
        return existing;
    }
    existing.handle = OpenAsItIs(folder, kHeldAccess);
    existing.described = existing.handle && ::GetFileInformationByHandle(existing.handle.get(), &existing.information);
    if (!existing.described) return existing;
    if (IsLink(existing.information.dwFileAttributes)) existing.refusal = FolderRefusal::ReparsePoint;
    else if (!IsFolder(existing.information.dwFileAttributes)) existing.refusal = FolderRefusal::NotAFolder;
    return existing;
}

// Nothing stood there any more when it was opened.
bool Vanished(const Existing& existing) { return !existing.handle && ::GetLastError() == ERROR_FILE_NOT_FOUND; }

}  // namespace

bool IsForeignFolder(PSECURITY_DESCRIPTOR descriptor, bool recordedIdMatches, const FolderRules& rules) {
    if (recordedIdMatches) return false;
    return descriptor == nullptr || !OnlyAdministratorsHold(descriptor, rules.othersMayNotHold);
}

ProtectedFolder EstablishProtectedFolder(const std::wstring& folder, const FolderRules& rules,
                                         const FolderRecords& records) {
    const UniqueLocalMemory descriptor = DescriptorFromSddl(rules.security);
    if (!descriptor) throw std::runtime_error("folder could not be secured");
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        bool taken = false;
        UniqueHandle created = CreateHeldFolder(folder, descriptor.get(), taken);
        if (created) {
            RecordFolder(records, folder, created.get());
            return Held(std::move(created));
        }
        if (!taken) throw std::runtime_error("create directory failed");

        // One that cannot even be opened for a look is not ours either.
        Existing existing = OpenExisting(folder);
        if (existing.refusal != FolderRefusal::None) return Refused(existing.refusal);
        if (existing.described) {
            const FolderId id{existing.information.dwVolumeSerialNumber, existing.information.nFileIndexHigh,
                              existing.information.nFileIndexLow};
            const bool recorded = IsRecordedFolder(records, folder, id);
            const UniqueLocalMemory current = ReadOwnerAndDacl(existing.handle.get(), SE_FILE_OBJECT);
            if (!IsForeignFolder(current.get(), recorded, rules)) {
                // Adopted by its owner and DACL: from now on recognised by its ID.
                if (!recorded) RecordFolder(records, folder, existing.handle.get());
                return Held(std::move(existing.handle));
            }
        }
        if (Vanished(existing)) continue;
        existing.handle.reset();
        if (!SetAside(folder)) return Refused(FolderRefusal::NotSetAside);
    }
    return Refused(FolderRefusal::NotSetAside);
}

ProtectedFolder HoldFolderAsItIs(const std::wstring& folder) {
    // Someone may put something at the place between a failed creation and the look:
    // a second attempt then sees it.
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        bool taken = false;
        UniqueHandle created = CreateHeldFolder(folder, nullptr, taken);
        if (created) return Held(std::move(created));
        if (!taken) throw std::runtime_error("create directory failed");
        Existing existing = OpenExisting(folder);
        if (existing.refusal != FolderRefusal::None) return Refused(existing.refusal);
        if (existing.described) return Held(std::move(existing.handle));
        if (!Vanished(existing)) break;
    }
    throw std::runtime_error("create directory failed");
}

}  // namespace orivanta
