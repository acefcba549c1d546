#pragma once
// Security descriptors of objects that only the machine's administrators may
// make and change: the run lock and the folders the elevated program trusts.
// SYSTEM and the Administrators group count as administrators, identified by
// their well-known SIDs, never by names (which differ by system language).

#include <windows.h>
#include <accctrl.h>

#include "common/Handles.h"

namespace orivanta {

bool IsAdministratorsOrSystem(PSID sid);

// Whether entries that apply only to what a folder will hold count.
enum class GrantScope { ObjectAndContents, ObjectItself };

// True when the descriptor's owner is Administrators or SYSTEM and it has a
// DACL whose allow entries give nobody else any of the given rights. Deny
// entries only take rights away; an entry of any other kind counts as a grant.
bool OnlyAdministratorsHold(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK rights,
                            GrantScope scope = GrantScope::ObjectAndContents);

// The owner and DACL of an open object (opened with READ_CONTROL); empty when unreadable.
UniqueLocalMemory ReadOwnerAndDacl(HANDLE object, SE_OBJECT_TYPE type);

// A descriptor from its SDDL text; empty when the text is refused.
UniqueLocalMemory DescriptorFromSddl(const wchar_t* sddl);

}  // namespace orivanta
