#pragma once
// Where the process looks for DLLs. The program runs elevated and is usually
// started from a Downloads folder, where anyone may leave a DLL named like one
// of Windows' own; the folder beside the program must never be searched.

#include <windows.h>

namespace orivanta {

// Restricts every later DLL search of the process, by the program and by the
// system's own DLLs, to System32. Uses nothing of the C runtime: it runs before
// the runtime's start-up. Without SetDefaultDllDirectories (Windows 7 lacking
// its 2011 update) nothing changes; the delay-loaded DLLs stay pinned to
// System32 by LoadFromSystem32.
void RestrictDllSearchToSystem32() noexcept;

// Loads the DLL of that file name from System32 by its full path, its own
// dependencies searched from there too; nullptr when that fails.
HMODULE LoadFromSystem32(const char* fileName) noexcept;

}  // namespace orivanta
