#pragma once
// Files in the program's data folders are opened as they are: a junction or a
// symbolic link found at a file's name is never followed, so that nothing is read,
// written or deleted elsewhere through it. (Wine follows a Unix symbolic link to a
// file whatever it is asked; there the folders' own holds are what protects.)

#include <windows.h>

#include <string>

#include "common/Handles.h"

namespace orivanta {

// CreateFileW with FILE_FLAG_OPEN_REPARSE_POINT added to the flags. What it opens
// must not be a reparse point: a link is closed again and refused with
// ERROR_CANT_ACCESS_FILE. A folder never opens (no backup semantics).
UniqueHandle OpenFileAsItIs(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                            DWORD flags = FILE_ATTRIBUTE_NORMAL, SECURITY_ATTRIBUTES* security = nullptr);

// Deletes the entry at the name through a handle opened as it is: a link itself,
// never what it leads to, and never a folder. False when nothing was deleted.
bool DeleteFileAsItIs(const std::wstring& path);

// Deletes the file an open handle (with DELETE access) refers to.
bool DeleteByHandle(HANDLE file);

// Gives the file an open handle (with DELETE access) refers to a new full path on
// the same volume, replacing a file found there when told to.
bool RenameByHandle(HANDLE file, const std::wstring& path, bool replace);

}  // namespace orivanta
