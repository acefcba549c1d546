#include "app/DllSearch.h"

#include <iterator>
#include <string>

#include "common/SupportHotline.h"

namespace orivanta {

SetDefaultDllDirectoriesFunction FindSetDefaultDllDirectories() noexcept {
    return reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
}

bool RestrictDllSearchToSystem32(SetDefaultDllDirectoriesFunction setDefaultDllDirectories,
                                 TellUserFunction tellUser) noexcept {
    if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
    // Put together without the C runtime, which is not set up yet.
    constexpr wchar_t kReason[] = L"此电脑的 Windows 缺少安全更新 KB2533623，安装助手无法确保只从系统文件夹加载组件，"
                                  L"为安全起见已停止运行。请通过 Windows 更新安装该更新后重试，或联系欧瑞凡达客服 ";
    wchar_t text[std::size(kReason) + std::size(kSupportHotline) + 1];
    std::size_t length = 0;
    for (const wchar_t* c = kReason; *c != L'\0'; ++c) text[length++] = *c;
    for (const char* digit = kSupportHotline; *digit != '\0'; ++digit) text[length++] = static_cast<wchar_t>(*digit);
    text[length++] = L'。';
    text[length] = L'\0';
    tellUser(text);
    return false;
}

namespace {

// DLLs that WinHTTP loads by their bare names when it first looks for a proxy
// or answers a log-on. Wine resolves such a load through the program's folder
// whatever the process's search order; once loaded from System32, a bare name
// finds them in memory instead.
constexpr const char* kLoadedByWinHttp[] = {"iphlpapi.dll", "dhcpcsvc.dll", "dnsapi.dll", "crypt32.dll",
                                            "secur32.dll"};

HMODULE LoadByFullPath(const char* fileName) noexcept {
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
        return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

HMODULE LoadFromSystem32(const char* fileName) noexcept {
    const HMODULE module = LoadByFullPath(fileName);
    if (module != nullptr && ::lstrcmpiA(fileName, "winhttp.dll") == 0) {
        // Kept loaded for the life of the process, as WinHTTP keeps them.
        for (const char* companion : kLoadedByWinHttp) LoadByFullPath(companion);
    }
    return module;
}

}  // namespace orivanta
