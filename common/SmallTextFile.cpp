#include "common/SmallTextFile.h"

#include "common/FileAsItIs.h"
#include "common/Handles.h"
#include "common/Utf.h"

namespace orivanta {

std::wstring ReadSmallTextFile(const std::wstring& path) {
    const UniqueHandle file = OpenFileAsItIs(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    if (!file) return {};
    const DWORD size = ::GetFileSize(file.get(), nullptr);
    if (size > 4096) return {};
    std::string bytes(size, '\0');
    DWORD read = 0;
    ::ReadFile(file.get(), bytes.data(), size, &read, nullptr);
    bytes.resize(read);
    return Utf8ToUtf16(bytes);
}

std::wstring TrimTrailingWhitespace(std::wstring text) {
    while (!text.empty() &&
           (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' || text.back() == L'\t')) {
        text.pop_back();
    }
    return text;
}

}  // namespace orivanta
