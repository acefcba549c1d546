#pragma once
// Which folders this program created. A folder is recognised by its file ID,
// which the file system reports faithfully even where owners and DACLs do not
// read back as written; the IDs are kept where only administrators can write.

#include <windows.h>

#include <string>

namespace orivanta {

// A registry key that holds one binary value per folder path.
struct FolderRecords {
    HKEY root;
    const wchar_t* key;
};

// Under HKLM, where standard users can create nothing; the key itself is made
// with an administrators-only DACL.
inline const FolderRecords kFolderRecords{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orivanta\\InstallerAssistant\\Folders"};

// The ID of an open folder (volume serial and file index); false when unreadable.
struct FolderId {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
};
bool ReadFolderId(HANDLE folder, FolderId& id);

// True when the ID recorded for the path is this one.
bool IsRecordedFolder(const FolderRecords& records, const std::wstring& path, const FolderId& id);

// Records the ID of the open folder for the path; raises "folder could not be secured".
void RecordFolder(const FolderRecords& records, const std::wstring& path, HANDLE folder);

// Drops the path's record, once its folder is gone.
void ForgetFolder(const FolderRecords& records, const std::wstring& path);

}  // namespace orivanta
