#pragma once
#include <string>

namespace orivanta {

// UTF-16 inside the program, UTF-8 on the wire and on disk.
std::string Utf16ToUtf8(const std::wstring& text);
// Empty when the input holds any invalid UTF-8 sequence: nothing is half-converted.
std::wstring Utf8ToUtf16(const std::string& text);

}  // namespace orivanta
