#pragma once
// The folders that the elevated program writes and later trusts (the machine
// folder, the publish folder on D: and its cache) are kept out of standard
// users' reach: otherwise anyone could swap a record, an identity or a package
// that an administrator then reads or starts.

#include <windows.h>

#include <string>

#include "common/Handles.h"

namespace orivanta {

// Owner Administrators; full control for SYSTEM and Administrators, read and
// execute for Users; nothing inherited from the parent (P), and every entry
// inherited by the files (OI) and folders (CI) created inside.
inline constexpr wchar_t kProtectedFolderSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";
// The same rights for a file that an existing folder holds when it is re-secured.
inline constexpr wchar_t kProtectedFileSecurity[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;BU)";

// Rights with which someone could change a folder, its security or what it holds.
inline constexpr ACCESS_MASK kFolderChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                                   FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                                   WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// True when an existing folder's owner is neither Administrators nor SYSTEM, or
// its DACL gives anyone else a change right (on the folder or on what it holds).
bool NeedsResecuring(PSECURITY_DESCRIPTOR descriptor);

enum class FolderRefusal { None, ReparsePoint, NotAFolder };

struct ProtectedFolder {
    FolderRefusal refusal = FolderRefusal::None;
    // The reparse point that made the folder refused: the folder itself or one inside.
    std::wstring link;
    // The folder, while usable, open without delete sharing: as long as it is
    // held nobody can rename it away or put a link in its place.
    UniqueHandle handle;
};

// Creates the folder (its parent must exist) with kProtectedFolderSecurity, or
// takes the existing one. A file of that name is refused. So is a folder that
// is, or holds at any depth, a reparse point: a link is never followed, nor
// removed. An existing folder that NeedsResecuring gets owner Administrators
// and the protected DACL before anything else happens, and then so does
// everything it holds (kProtectedFileSecurity for files), from the top down.
// Raises "create directory failed" or "folder could not be secured".
ProtectedFolder EstablishProtectedFolder(const std::wstring& folder);

}  // namespace orivanta
