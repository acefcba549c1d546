#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "common/StopFlag.h"
#include "net/HttpExchange.h"

namespace orivanta {

class HttpAbort;

// How the engine's requests to the download node are set up. A node silent for
// 15 s is taken for a dead connection: the next attempt resumes where the file
// stopped at the cost of one request, while a live link, however slow, delivers
// something every few hundred milliseconds.
inline constexpr std::size_t kNodeMaxPathChars = 4095;
inline constexpr HttpTimeouts kNodeTimeouts{15000, 15000, 30000, 15000};

// Millisecond tick source; the engine reads it once at the start and after every chunk.
using TickSource = std::function<std::uint64_t()>;

// The text RangedDownload reports when it stopped because stop was set.
inline constexpr wchar_t kDownloadPausedText[] = L"PAUSED";

// What ended a transfer, as the decision to try again needs it.
enum class DownloadFault {
    None,         // the package arrived whole
    Paused,       // stop was set
    Unreachable,  // no answer came: the connection failed or broke before it (networkError)
    Interrupted,  // the body broke off: cut, reset or fallen silent (networkError)
    ShortBody,    // the body ended before the package's size
    NodeStatus,   // the node answered neither 200 nor 206 (status, retryAfter)
    Other,        // the URL, the proxy's refusal, the partial file, the disk or a faulty answer
};

// The facts of one transfer beside its error text.
struct DownloadAttempt {
    DownloadFault fault = DownloadFault::Other;
    unsigned long networkError = 0;
    unsigned long status = 0;      // the node's status, 0 before it answered
    std::wstring retryAfter;       // the Retry-After header of a refusal
    std::int64_t position = 0;     // the partial file's length once written to, else resumeOffset
    std::int64_t received = 0;     // bytes this transfer wrote
};

// Transfers the authorised URL into the partial file, resuming at resumeOffset
// with an open-ended range when it is positive. Publishes the byte counters after
// every chunk and progress with a repaint at most every 150 ms, and stops at the
// next chunk boundary once stop is set. With a known expectedSize the file
// never grows past it, and a 206 answer is appended only when its
// Content-Range starts at resumeOffset; an expectedSize of 0 or less switches
// these and the final size check off. On false, errorText holds the reason
// ("PAUSED" for a pause), and attempt, when given, what happened. abort, when
// given, lets the closing side break a blocked call off. Never raises; never
// retries, hashes or renames.
bool RangedDownload(const std::wstring& url, const std::wstring& partPath, std::int64_t resumeOffset,
                    std::int64_t expectedSize, const StopFlag& stop, std::wstring& errorText,
                    HttpAbort* abort = nullptr, DownloadAttempt* attempt = nullptr);
bool RangedDownload(const std::wstring& url, const std::wstring& partPath, std::int64_t resumeOffset,
                    std::int64_t expectedSize, const StopFlag& stop, std::wstring& errorText,
                    const TickSource& ticks, HttpAbort* abort = nullptr, DownloadAttempt* attempt = nullptr);

// Whole percent of expected reached by position, 0 for an unknown size, never above 100.
int DownloadPercent(std::int64_t position, std::int64_t expectedSize);

}  // namespace orivanta
