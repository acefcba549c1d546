#pragma once
#include <cstdint>
#include <string>

namespace orivanta {

// The failure text for a 206 answer whose Content-Range does not continue the
// partial file exactly at requestedStart, or names a total other than the
// package's size (when both are known); empty when the answer fits.
std::wstring MisplacedRangeText(const std::wstring& contentRange, std::int64_t requestedStart,
                                std::int64_t expectedSize);

}  // namespace orivanta
