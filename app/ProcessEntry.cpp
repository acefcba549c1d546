// The executable's entry point and its delay-load hook. Nothing else of the
// program may come first: the import table names only KnownDLLs, and every
// other system DLL is delay-loaded (cmake/DelayLoad.cmake), so the first one is
// resolved only after the search has been restricted here.

#include <windows.h>
#include <delayimp.h>

#include "app/DllSearch.h"
#include "ui/MainWindow.h"

extern "C" int WinMainCRTStartup();

namespace {

// The exit code of a run that ends before it starts, as after any fatal failure.
constexpr UINT kUnprotectedExitCode = 2;

void ShowWhyTheProgramStops(const wchar_t* text) {
    ::MessageBoxW(nullptr, text, orivanta::kMainWindowTitle, MB_OK | MB_ICONERROR);
}

}  // namespace

// Linked as the entry point (--entry): runs before the C runtime's start-up,
// its TLS set-up and static constructors, then hands over to them.
extern "C" int OrivantaProcessEntry() {
    if (!orivanta::RestrictDllSearchToSystem32(orivanta::FindSetDefaultDllDirectories(), ShowWhyTheProgramStops)) {
        ::ExitProcess(kUnprotectedExitCode);
    }
    return WinMainCRTStartup();
}

namespace {

FARPROC WINAPI LoadDelayedImport(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary) return nullptr;
    return reinterpret_cast<FARPROC>(orivanta::LoadFromSystem32(info->szDll));
}

}  // namespace

// Read by the runtime's delay-load helper before it would load a DLL by name.
PfnDliHook __pfnDliNotifyHook2 = LoadDelayedImport;  // declared extern "C" by delayimp.h
