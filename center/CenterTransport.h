#pragma once
// The one transport to the center: a blocking HTTP POST of a small UTF-8 JSON
// body, answered by a small body. It never retries and never judges the status.

#include <cstddef>
#include <string>

namespace orivanta {

class HttpAbort;

constexpr std::size_t kMaxCenterResponseBytes = 131072;

struct CenterResponse {
    unsigned long status = 0;  // 0 when the status line could not be read
    std::string body;          // as received, at most kMaxCenterResponseBytes
};

// Raises "invalid center URL", "network initialization failed", "center connection
// failed", "request creation failed", "center request failed" (with the network
// failure nested as its cause), "center response too large", or the proxy's
// refusal. Sets centerResponded for every response read to its end (or to a
// broken read). abort, when given, lets the closing side break the call off.
CenterResponse PostCenterJson(const std::wstring& url, const std::string& body, HttpAbort* abort = nullptr);

}  // namespace orivanta
