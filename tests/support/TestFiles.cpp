#include "TestFiles.h"

#include <algorithm>
#include <stdexcept>

#include "common/Folders.h"
#include "common/GuidText.h"
#include "common/Handles.h"
#include "common/Utf.h"

namespace orivanta::test {
namespace {

// The Unix form of a Windows path in the prefix; empty when Wine cannot say.
std::wstring UnixPathOf(const std::wstring& path) {
    using UnixFileName = char*(CDECL*)(LPCWSTR);
    const auto unixFileName = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unixPath = unixFileName ? unixFileName(path.c_str()) : nullptr;
    const std::wstring text = unixPath ? Utf8ToUtf16(unixPath) : L"";
    ::HeapFree(::GetProcessHeap(), 0, unixPath);
    return text;
}

// Wine starts a host program named by its path on Z:, but does not follow it to
// its end: callers wait for what it does.
bool StartHostProgram(const wchar_t* program, std::wstring commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return false;
    }
    UniqueHandle thread(process.hThread);
    UniqueHandle started(process.hProcess);
    return true;
}

bool WaitForAttributes(const std::wstring& path, bool (*reached)(DWORD attributes)) {
    for (int waited = 0; waited < 10000; waited += 20) {
        if (reached(::GetFileAttributesW(path.c_str()))) return true;
        ::Sleep(20);
    }
    return false;
}

}  // namespace

TempFolder::TempFolder(const std::wstring& tag) {
    wchar_t base[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, base);
    path_ = std::wstring(base) + L"orivanta-" + tag + L"-" + NewGuidText();
    EnsureDirectory(path_);
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) throw std::runtime_error("test file could not be created");
    DWORD written = 0;
    if (!bytes.empty() && !::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        throw std::runtime_error("test file could not be written");
    }
}

std::string ReadBytes(const std::wstring& path) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry{};
    UniqueFindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &entry));
    if (find) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                RemoveUnixSymbolicLink(child);
            } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(find.get(), &entry));
    }
    find.reset();
    ::RemoveDirectoryW(path.c_str());
}

std::vector<std::wstring> EntryNames(const std::wstring& folder, const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    UniqueFindHandle find(::FindFirstFileW((folder + L"\\" + pattern).c_str(), &entry));
    for (bool more = find.valid(); more; more = ::FindNextFileW(find.get(), &entry)) {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> FileNames(const std::wstring& folder, const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    UniqueFindHandle find(::FindFirstFileW((folder + L"\\" + pattern).c_str(), &entry));
    if (!find) return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(entry.cFileName);
    } while (::FindNextFileW(find.get(), &entry));
    return names;
}

int CountFilesMatching(const std::wstring& folder, const std::wstring& pattern) {
    return static_cast<int>(FileNames(folder, pattern).size());
}

bool MakeUnixSymbolicLink(const std::wstring& link, const std::wstring& target) {
    // Wine's CreateSymbolicLinkW makes nothing; the host's ln does.
    const std::wstring unixTarget = UnixPathOf(target);
    const std::wstring unixLink = UnixPathOf(link);
    if (unixTarget.empty() || unixLink.empty() ||
        !StartHostProgram(L"Z:\\bin\\ln", L"ln -s \"" + unixTarget + L"\" \"" + unixLink + L"\"")) {
        return false;
    }
    return WaitForAttributes(link, [](DWORD attributes) { return attributes != INVALID_FILE_ATTRIBUTES; });
}

void RemoveUnixSymbolicLink(const std::wstring& link) {
    // A link goes, never what it points to; Wine removes neither, the host's rm does.
    const std::wstring unixLink = UnixPathOf(link);
    if (!unixLink.empty() && StartHostProgram(L"Z:\\bin\\rm", L"rm \"" + unixLink + L"\"")) {
        WaitForAttributes(link, [](DWORD attributes) { return attributes == INVALID_FILE_ATTRIBUTES; });
    }
}

}  // namespace orivanta::test
