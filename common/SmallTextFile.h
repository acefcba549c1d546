#pragma once
#include <string>

namespace orivanta {

// A small UTF-8 file as text: empty when it is missing, unreadable, a link
// (FileAsItIs), larger than 4,096 bytes or not valid UTF-8.
std::wstring ReadSmallTextFile(const std::wstring& path);

// Removes CR, LF, blanks and tabs from the end only.
std::wstring TrimTrailingWhitespace(std::wstring text);

}  // namespace orivanta
