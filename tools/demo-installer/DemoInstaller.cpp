// A stand-in installer for development and tests. Launched, it leaves a proof
// file next to itself (its own path + ".launched.txt") holding the UTC time and
// its process id, and exits 0; it never shows a window. Bytes appended after
// its image (padding to a chosen package size) do not affect it.

#include <windows.h>

#include <cstdio>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t self[32768];
    const DWORD length = GetModuleFileNameW(nullptr, self, 32768 - 32);
    if (length == 0 || length >= 32768 - 32) return 2;
    lstrcatW(self, L".launched.txt");

    SYSTEMTIME now;
    GetSystemTime(&now);
    char proof[160];
    const int size = std::snprintf(proof, sizeof(proof),
                                   "launchedAtUtc=%04u-%02u-%02uT%02u:%02u:%02u.%03uZ\r\nprocessId=%lu\r\n",
                                   now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                                   now.wMilliseconds, GetCurrentProcessId());
    HANDLE file = CreateFileW(self, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, proof, static_cast<DWORD>(size), &written, nullptr) &&
                    written == static_cast<DWORD>(size);
    CloseHandle(file);
    return ok ? 0 : 1;
}
