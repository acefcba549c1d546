#pragma once
// The customer-service number that every text offering help names.

#include <iterator>
#include <string>

namespace orivanta {

inline constexpr char kSupportHotline[] = "400-100-200";

// The same number for the program's UTF-16 texts.
inline std::wstring SupportHotlineText() {
    return std::wstring(std::begin(kSupportHotline), std::end(kSupportHotline) - 1);
}

}  // namespace orivanta
