#pragma once
// Byte-wise readers for the few values the program needs from a center answer,
// and the one escaping function its request bodies use. There is deliberately
// no general parser: a key is found by the first occurrence of its quoted name
// anywhere in the text. None of these functions raises.

#include <cstdint>
#include <string>

namespace orivanta {

// The decoded string after "key": (UTF-8); empty when absent, not a string or unterminated.
std::string JsonStringField(const std::string& json, const std::string& key);
// strtoll of the text after "key": (clamped to the 64-bit range); 0 when absent or no digits.
std::int64_t JsonIntegerField(const std::string& json, const std::string& key);
// True exactly when the value after "key": starts with the four bytes true.
bool JsonBoolField(const std::string& json, const std::string& key);

// UTF-8 for the inside of a JSON string: control bytes dropped, quote and backslash escaped.
std::string JsonEscapeString(const std::wstring& text);

}  // namespace orivanta
