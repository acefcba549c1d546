#include "common/ProtectedFolder.h"

#include <stdexcept>

#include "common/AdministratorsOnly.h"

namespace orivanta {
namespace {

// Opened as they are (a link is not followed), for reading and setting the
// security. Listing the folder is a data access, so the folder's own handle
// takes part in sharing: without delete sharing it cannot be renamed while held.
constexpr DWORD kSecurityAccess = READ_CONTROL | WRITE_DAC | WRITE_OWNER;
constexpr DWORD kHeldFolderAccess = FILE_LIST_DIRECTORY | kSecurityAccess;
constexpr DWORD kOpenAsItIs = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

[[noreturn]] void FailSecuring() { throw std::runtime_error("folder could not be secured"); }

// A folder that a standard user owns may shut administrators out of its DACL.
// Backup, restore and take-ownership rights let an administrator open and
// re-secure it anyway; they are enabled for this thread only, for as long as
// the folder is being established.
class SecurityPrivileges {
public:
    SecurityPrivileges() {
        impersonating_ = ::ImpersonateSelf(SecurityImpersonation) != FALSE;
        UniqueHandle token;
        if (!impersonating_ ||
            !::OpenThreadToken(::GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES, TRUE, token.put())) {
            return;
        }
        // One by one: a right the account lacks must not keep the others off.
        for (const wchar_t* name : {SE_BACKUP_NAME, SE_RESTORE_NAME, SE_TAKE_OWNERSHIP_NAME}) {
            TOKEN_PRIVILEGES privileges{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
            if (::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) {
                ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
            }
        }
    }
    ~SecurityPrivileges() {
        if (impersonating_) ::RevertToSelf();
    }
    SecurityPrivileges(const SecurityPrivileges&) = delete;
    SecurityPrivileges& operator=(const SecurityPrivileges&) = delete;

private:
    bool impersonating_ = false;
};

UniqueHandle OpenAsItIs(const std::wstring& path, DWORD access, DWORD share) {
    return UniqueHandle(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, kOpenAsItIs, nullptr));
}

DWORD AttributesOf(HANDLE object) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(object, &information)) FailSecuring();
    return information.dwFileAttributes;
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// Sets exactly this object's owner and DACL; unlike the higher-level calls it
// does not walk into what a folder holds, where a link could lead elsewhere.
void ApplySecurity(HANDLE object, PSECURITY_DESCRIPTOR descriptor) {
    if (!::SetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor)) {
        FailSecuring();
    }
}

struct Descriptors {
    UniqueLocalMemory folder = DescriptorFromSddl(kProtectedFolderSecurity);
    UniqueLocalMemory file = DescriptorFromSddl(kProtectedFileSecurity);
};

// Returns the first reparse point inside the folder, or empty. With descriptors
// each entry is secured on the way, top down: a folder is secured before it is
// listed, so nobody else can add an entry to it while the walk goes on.
std::wstring WalkContents(const std::wstring& folder, const Descriptors* resecure) {
    WIN32_FIND_DATAW found{};
    UniqueFindHandle find(
        ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!find) FailSecuring();
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        DWORD attributes = found.dwFileAttributes;
        if (IsLink(attributes)) return path;
        if (resecure != nullptr) {
            const UniqueHandle entry = OpenAsItIs(path, kSecurityAccess, kShareAll);
            if (!entry) FailSecuring();
            attributes = AttributesOf(entry.get());
            if (IsLink(attributes)) return path;
            ApplySecurity(entry.get(), IsFolder(attributes) ? resecure->folder.get() : resecure->file.get());
        }
        if (IsFolder(attributes)) {
            std::wstring link = WalkContents(path, resecure);
            if (!link.empty()) return link;
        }
    } while (::FindNextFileW(find.get(), &found));
    if (::GetLastError() != ERROR_NO_MORE_FILES) FailSecuring();
    return {};
}

ProtectedFolder Refused(FolderRefusal refusal, std::wstring link = {}) {
    ProtectedFolder result;
    result.refusal = refusal;
    result.link = std::move(link);
    return result;
}

}  // namespace

bool NeedsResecuring(PSECURITY_DESCRIPTOR descriptor) {
    return !OnlyAdministratorsHold(descriptor, kFolderChangeRights);
}

ProtectedFolder EstablishProtectedFolder(const std::wstring& folder) {
    const SecurityPrivileges privileges;
    const Descriptors descriptors;
    if (!descriptors.folder || !descriptors.file) FailSecuring();

    ProtectedFolder result;
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptors.folder.get(), FALSE};
    if (::CreateDirectoryW(folder.c_str(), &attributes)) {
        result.handle = OpenAsItIs(folder, kHeldFolderAccess, kShareAllButDelete);
        if (!result.handle) FailSecuring();
        return result;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("create directory failed");

    const DWORD found = ::GetFileAttributesW(folder.c_str());
    if (found == INVALID_FILE_ATTRIBUTES) throw std::runtime_error("create directory failed");
    if (IsLink(found)) return Refused(FolderRefusal::ReparsePoint, folder);
    if (!IsFolder(found)) return Refused(FolderRefusal::NotAFolder);
    UniqueHandle held = OpenAsItIs(folder, kHeldFolderAccess, kShareAllButDelete);
    if (!held) FailSecuring();
    // Replaced between the look and the open.
    const DWORD opened = AttributesOf(held.get());
    if (IsLink(opened)) return Refused(FolderRefusal::ReparsePoint, folder);
    if (!IsFolder(opened)) return Refused(FolderRefusal::NotAFolder);

    const UniqueLocalMemory current = ReadOwnerAndDacl(held.get(), SE_FILE_OBJECT);
    const bool resecure = !current || NeedsResecuring(current.get());
    if (resecure) ApplySecurity(held.get(), descriptors.folder.get());
    // Walked on every use: a link inside would lead a later write elsewhere.
    std::wstring link = WalkContents(folder, resecure ? &descriptors : nullptr);
    if (!link.empty()) return Refused(FolderRefusal::ReparsePoint, std::move(link));
    result.handle = std::move(held);
    return result;
}

}  // namespace orivanta
