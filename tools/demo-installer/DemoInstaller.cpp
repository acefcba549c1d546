// A stand-in installer for development and tests. Launched, it leaves a proof
// file next to itself (its own path + ".launched.txt", UTF-8) and exits 0; it never
// shows a window. The proof says when it ran, as which process, from which
// current folder, and what else its own folder held when it started (names
// separated by "|"): where a real installer would look for DLLs. Bytes appended
// after its image (padding to a chosen package size) do not affect it.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                            nullptr);
    }
    return bytes;
}

// Every entry of the folder but the program itself.
std::wstring OtherEntries(const std::wstring& folder, const std::wstring& self) {
    std::wstring names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L".." || lstrcmpiW(name.c_str(), self.c_str()) == 0) continue;
        if (!names.empty()) names += L"|";
        names += name;
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t image[32768];
    const DWORD length = GetModuleFileNameW(nullptr, image, 32768);
    if (length == 0 || length >= 32768) return 2;
    const std::wstring self(image, length);
    const size_t slash = self.find_last_of(L'\\');
    if (slash == std::wstring::npos) return 2;
    wchar_t current[32768];
    const DWORD currentLength = GetCurrentDirectoryW(32768, current);
    if (currentLength == 0 || currentLength >= 32768) return 2;

    SYSTEMTIME now;
    GetSystemTime(&now);
    char head[160];
    std::snprintf(head, sizeof(head), "launchedAtUtc=%04u-%02u-%02uT%02u:%02u:%02u.%03uZ\r\nprocessId=%lu\r\n",
                  now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                  GetCurrentProcessId());
    const std::string proof = head + ("currentFolder=" + Utf8(std::wstring(current, currentLength))) +
                              "\r\notherFiles=" + Utf8(OtherEntries(self.substr(0, slash), self.substr(slash + 1))) +
                              "\r\n";
    HANDLE file = CreateFileW((self + L".launched.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, proof.data(), static_cast<DWORD>(proof.size()), &written, nullptr) &&
                    written == static_cast<DWORD>(proof.size());
    CloseHandle(file);
    return ok ? 0 : 1;
}
