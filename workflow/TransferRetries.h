#pragma once
// The transfer from the download node carried through the faults of an unreliable
// line: every failed attempt is judged (download/RetryPolicy.h), waited out with a
// countdown in the window and resumed from the partial file with a Range request,
// and a URL that may have expired is replaced through the center.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "common/StopFlag.h"

namespace orivanta {

class HttpAbort;

// Time and chance for the retries; a test's clock moves on without waiting.
struct RetryClock {
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<std::chrono::system_clock::time_point()> wallNow;  // for Retry-After dates
    std::function<void(std::chrono::milliseconds)> sleep;
    std::function<double()> jitter;  // a uniform draw from [0, 1)
};
RetryClock SystemRetryClock();

// What an attempt fetches, and the name the window shows meanwhile.
struct NodeTransfer {
    std::wstring url;
    std::wstring partPath;
    std::int64_t offset = 0;
    std::int64_t size = 0;
    std::wstring fileName;
};

// A fresh authorisation for the partial file's size, after the node refused the URL.
using UrlRenewal = std::function<NodeTransfer(std::int64_t offset)>;

// Returns once the partial file holds the whole package. Raises StopRequested for a
// pause or a close, in a wait too (within a tenth of a second), and once it gives up
// the last failure's text, with the number of attempts when there were several.
void TransferWithRetries(NodeTransfer transfer, const UrlRenewal& renew, const StopFlag& stop, HttpAbort& abort,
                         const RetryClock& clock);

}  // namespace orivanta
