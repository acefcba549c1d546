#pragma once
#include <chrono>
#include <optional>
#include <string>

namespace orivanta {

// How long a Retry-After header asks the client to wait, judged at now: a number of
// seconds, or an HTTP date (the IMF form, or the obsolete RFC 850 and asctime forms
// that recipients must still accept); a date already past asks for no wait.
// Nothing for an absent or malformed value.
std::optional<std::chrono::seconds> ParseRetryAfter(const std::wstring& value,
                                                    std::chrono::system_clock::time_point now);

}  // namespace orivanta
