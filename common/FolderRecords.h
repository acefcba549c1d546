#pragma once
// Which folders this program created. A folder is recognised by its file ID,
// which the file system reports faithfully even where owners and DACLs do not
// read back as written; the IDs are kept where only administrators can write.

#include <windows.h>

#include <string>

#include "common/Handles.h"

namespace orivanta {

// The owner and DACL of a registry key below root; empty when it is missing or unreadable.
using KeySecurityReader = UniqueLocalMemory (*)(HKEY root, const std::wstring& key);
UniqueLocalMemory ReadKeySecurity(HKEY root, const std::wstring& key);

// A registry key that holds one binary value per folder path. Its records count
// only while the key and its parent are keys that administrators alone may
// change (read with keySecurity): anyone else could have written an ID there.
//
// Without a registry root, the records are files in a folder of a diagnostic
// data root instead ("<folder>\<name of the recorded folder>.id"), where nothing
// outside the root may be written; the folders recorded there have names unique
// among them.
struct FolderRecords {
    HKEY root;
    const wchar_t* key;
    KeySecurityReader keySecurity = ReadKeySecurity;
    std::wstring folder;
};

// Under HKLM, where standard users can create nothing; the key itself is made
// with an administrators-only DACL.
inline const FolderRecords kFolderRecords{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orivanta\\InstallerAssistant\\Folders"};

// Records kept as files in the folder.
FolderRecords RecordsInFolder(const std::wstring& folder);

// The ID of an open folder (volume serial and file index); false when unreadable.
struct FolderId {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
};
bool ReadFolderId(HANDLE folder, FolderId& id);

// True when the ID recorded for the path is this one, in records that count.
bool IsRecordedFolder(const FolderRecords& records, const std::wstring& path, const FolderId& id);

// Records the ID of the open folder for the path; raises "folder could not be secured".
void RecordFolder(const FolderRecords& records, const std::wstring& path, HANDLE folder);

// Drops the path's record, once its folder is gone.
void ForgetFolder(const FolderRecords& records, const std::wstring& path);

}  // namespace orivanta
