#include "app/DllSearch.h"

#include <string>

namespace orivanta {

void RestrictDllSearchToSystem32() noexcept {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    // Looked up rather than imported: a missing import would stop the process from loading at all.
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadFromSystem32(const char* fileName) noexcept {
    try {
        wchar_t folder[MAX_PATH] = {};
        const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return nullptr;
        std::wstring path = std::wstring(folder, length) + L"\\";
        for (const char* c = fileName; *c != '\0'; ++c) {
            // Our own import names: plain ASCII file names, never a path.
            if (*c == '\\' || *c == '/' || *c == ':' || static_cast<unsigned char>(*c) > 0x7F) return nullptr;
            path += static_cast<wchar_t>(*c);
        }
        // The altered order searches the DLL's own folder first and never the program's.
        return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace orivanta
