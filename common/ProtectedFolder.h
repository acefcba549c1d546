#pragma once
// The folders that the elevated program writes and later trusts (the machine
// folder, the publish folder on D: and its cache) are kept out of standard
// users' reach: otherwise anyone could swap a record, an identity or a package
// that an administrator then reads or starts. A folder someone else built is
// never taken over with what it holds: it is set aside and a fresh one made.

#include <windows.h>

#include <string>

#include "common/AdministratorsOnly.h"
#include "common/FolderRecords.h"
#include "common/Handles.h"

namespace orivanta {

// Owner Administrators; full control for SYSTEM and Administrators, read and
// execute for Users; nothing inherited from the parent (P), and every entry
// inherited by the files (OI) and folders (CI) created inside.
inline constexpr wchar_t kProtectedFolderSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";
// SYSTEM and Administrators only: nobody else can even open what it holds (and
// so hold a part file open to block a download).
inline constexpr wchar_t kPrivateFolderSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Rights with which someone could change a folder, its security or what it holds.
inline constexpr ACCESS_MASK kFolderChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                                   FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                                   WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// How a folder is made and when an existing one counts as someone else's.
struct FolderRules {
    const wchar_t* security;       // SDDL of a fresh one
    ACCESS_MASK othersMayNotHold;  // nobody but administrators may hold any of these
};
// The machine folder and the publish folder.
inline constexpr FolderRules kProtectedFolder{kProtectedFolderSecurity, kFolderChangeRights};
// The publish folder's cache.
inline constexpr FolderRules kPrivateFolder{kPrivateFolderSecurity, ~ACCESS_MASK{0}};

// The decision on an existing folder: ours when the ID recorded at its creation
// matches; otherwise someone else's unless its owner is Administrators or
// SYSTEM and nobody else holds the rules' rights (an unreadable descriptor is
// someone else's).
bool IsForeignFolder(PSECURITY_DESCRIPTOR descriptor, bool recordedIdMatches, const FolderRules& rules);

enum class FolderRefusal { None, ReparsePoint, NotAFolder, NotSetAside };

struct ProtectedFolder {
    FolderRefusal refusal = FolderRefusal::None;
    // The folder, while usable, open without delete sharing: as long as it is
    // held nobody can rename it away or put a link in its place.
    UniqueHandle handle;
};

// Creates the folder (a full drive path; its parent must exist) with the rules'
// descriptor and records its ID, or takes the existing one that is not foreign
// (recording it when it was adopted by its owner and DACL). A foreign one is
// renamed aside through its own handle to "<name>.foreign-<GUID>" and a fresh
// one is made in its place; what it held is never opened. Refused: a link or
// mount point at the place (never followed nor moved), a file there, or a
// foreign folder that cannot be moved. Raises "create directory failed" or
// "folder could not be secured".
ProtectedFolder EstablishProtectedFolder(const std::wstring& folder, const FolderRules& rules = kProtectedFolder,
                                         const FolderRecords& records = kFolderRecords);

// A folder used as it is, never judged by owner, DACL or record (one that is not
// the program's own, or one in a place its user may change anyway): made where
// nothing stands (its parent must exist) with the security it inherits, or the
// one there opened as it is, and held like a protected folder. Refused: a link or
// mount point (never followed), or a file. Raises "create directory failed".
ProtectedFolder HoldFolderAsItIs(const std::wstring& folder);

}  // namespace orivanta
