#pragma once
// Where the process looks for DLLs. The program runs elevated and is usually
// started from a Downloads folder, where anyone may leave a DLL named like one
// of Windows' own; the folder beside the program must never be searched.

#include <windows.h>

namespace orivanta {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
using TellUserFunction = void (*)(const wchar_t* text);

// The system's SetDefaultDllDirectories; null on Windows 7 lacking its 2011
// update. Looked up rather than imported: a missing import would stop the
// process from loading at all, without a word.
SetDefaultDllDirectoriesFunction FindSetDefaultDllDirectories() noexcept;

// Restricts every later DLL search of the process, by the program and by the
// system's own DLLs, to System32. Where that cannot be done, tells the user why
// the program stops and returns false: it must not run unprotected. Uses
// nothing of the C runtime: it runs before the runtime's start-up.
bool RestrictDllSearchToSystem32(SetDefaultDllDirectoriesFunction setDefaultDllDirectories,
                                 TellUserFunction tellUser) noexcept;

// Loads the DLL of that file name from System32 by its full path, its own
// dependencies searched in System32 only; nullptr when that fails. With WinHTTP
// come the DLLs it loads later by their bare names.
HMODULE LoadFromSystem32(const char* fileName) noexcept;

}  // namespace orivanta
