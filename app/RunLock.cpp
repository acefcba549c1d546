#include "app/RunLock.h"

#include <aclapi.h>
#include <sddl.h>

namespace orivanta {
namespace {

constexpr DWORD kMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL;

bool IsAdministratorsOrSystem(PSID sid) {
    return sid != nullptr &&
           (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(sid, WinLocalSystemSid));
}

bool IsTrustedExisting(HANDLE mutex) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    UniqueLocalMemory release(descriptor);
    return IsTrustedRunLock(descriptor);
}

}  // namespace

bool IsTrustedRunLock(PSECURITY_DESCRIPTOR descriptor) {
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    if (!::GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) || !IsAdministratorsOrSystem(owner)) {
        return false;
    }
    BOOL present = FALSE;
    BOOL daclDefaulted = FALSE;
    PACL dacl = nullptr;
    // No DACL at all lets everyone in.
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &daclDefaulted) || !present || dacl == nullptr) {
        return false;
    }
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!::GetAce(dacl, index, &entry)) return false;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if (allowed->Mask != 0 && !IsAdministratorsOrSystem(&allowed->SidStart)) return false;
    }
    return true;
}

RunLock::RunLock(const std::wstring& name) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kRunLockSecurity, SDDL_REVISION_1, &descriptor,
                                                                 nullptr)) {
        return;
    }
    UniqueLocalMemory release(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    UniqueHandle mutex(::CreateMutexExW(&attributes, name.c_str(), 0, kMutexAccess));
    // Someone else's object of that name that shuts the program out (or is no mutex)
    // tells nothing about a run; so does one that anyone else made or may hold.
    if (!mutex) return;
    if (::GetLastError() == ERROR_ALREADY_EXISTS && !IsTrustedExisting(mutex.get())) return;
    const DWORD wait = ::WaitForSingleObject(mutex.get(), 0);
    if (wait == WAIT_TIMEOUT) {
        claimed_ = false;
        return;
    }
    // An abandoned lock is that of a run that ended without letting it go: it is ours now.
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) mutex_ = std::move(mutex);
}

RunLock::~RunLock() {
    if (mutex_) ::ReleaseMutex(mutex_.get());
}

}  // namespace orivanta
