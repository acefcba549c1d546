#include "common/AdministratorsOnly.h"

#include <aclapi.h>
#include <sddl.h>

namespace orivanta {

bool IsAdministratorsOrSystem(PSID sid) {
    return sid != nullptr &&
           (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(sid, WinLocalSystemSid));
}

bool OnlyAdministratorsHold(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK rights, GrantScope scope) {
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
        if (scope == GrantScope::ObjectItself && (header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if ((allowed->Mask & rights) != 0 && !IsAdministratorsOrSystem(&allowed->SidStart)) return false;
    }
    return true;
}

UniqueLocalMemory ReadOwnerAndDacl(HANDLE object, SE_OBJECT_TYPE type) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return {};
    }
    return UniqueLocalMemory(descriptor);
}

UniqueLocalMemory DescriptorFromSddl(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        return {};
    }
    return UniqueLocalMemory(descriptor);
}

}  // namespace orivanta
