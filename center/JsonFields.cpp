#include "center/JsonFields.h"

#include <cstdlib>

#include "common/Utf.h"

namespace orivanta {

namespace {

// Position just after the ":" that follows the first quoted occurrence of key, or npos.
std::size_t LocateValue(const std::string& json, const std::string& key) {
    const std::string needle = "\"" + key + "\"";
    const std::size_t found = json.find(needle);
    if (found == std::string::npos) return std::string::npos;
    const std::size_t colon = json.find(':', found + needle.size());
    return colon == std::string::npos ? std::string::npos : colon + 1;
}

// Lenient by design: bytes outside 0-9, a-f, A-F are not rejected but still weighted.
unsigned HexDigitValue(unsigned char byte) {
    if (byte >= '0' && byte <= '9') return byte - '0';
    const unsigned lower = (byte >= 'A' && byte <= 'Z') ? byte + ('a' - 'A') : byte;
    return lower - 87u;
}

}  // namespace

std::string JsonStringField(const std::string& json, const std::string& key) {
    const std::size_t value = LocateValue(json, key);
    if (value == std::string::npos) return {};
    const std::size_t open = json.find('"', value);
    if (open == std::string::npos) return {};

    std::string result;
    for (std::size_t i = open + 1; i < json.size(); ++i) {
        const char byte = json[i];
        if (byte == '"') return result;
        if (byte != '\\') {
            result.push_back(byte);
            continue;
        }
        if (i + 1 >= json.size()) break;
        const char escaped = json[++i];
        if (escaped == 'u') {
            if (json.size() - (i + 1) < 4) {
                result.push_back('u');
                continue;
            }
            unsigned unit = 0;
            for (int digit = 1; digit <= 4; ++digit) {
                unit = (unit * 16u + HexDigitValue(static_cast<unsigned char>(json[i + digit]))) & 0xFFFFu;
            }
            // Each escape stands alone: a surrogate pair is not joined into one character.
            result += Utf16ToUtf8(std::wstring(1, static_cast<wchar_t>(unit)));
            i += 4;
        } else if (escaped == 'n') {
            result.push_back('\n');
        } else if (escaped == 'r') {
            result.push_back('\r');
        } else {
            result.push_back(escaped);
        }
    }
    return {};
}

std::int64_t JsonIntegerField(const std::string& json, const std::string& key) {
    const std::size_t value = LocateValue(json, key);
    if (value == std::string::npos) return 0;
    return static_cast<std::int64_t>(std::strtoll(json.c_str() + value, nullptr, 10));
}

bool JsonBoolField(const std::string& json, const std::string& key) {
    std::size_t value = LocateValue(json, key);
    if (value == std::string::npos) return false;
    while (value < json.size() &&
           (json[value] == ' ' || json[value] == '\t' || json[value] == '\r' || json[value] == '\n')) {
        ++value;
    }
    return json.compare(value, 4, "true") == 0;
}

std::string JsonEscapeString(const std::wstring& text) {
    const std::string utf8 = Utf16ToUtf8(text);
    std::string escaped;
    escaped.reserve(utf8.size());
    for (const char byte : utf8) {
        if (static_cast<unsigned char>(byte) < 0x20) continue;
        if (byte == '"' || byte == '\\') escaped.push_back('\\');
        escaped.push_back(byte);
    }
    return escaped;
}

}  // namespace orivanta
