#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "common/StopFlag.h"
#include "net/HttpExchange.h"

namespace orivanta {

class HttpAbort;

// How the engine's requests to the download node are set up.
inline constexpr std::size_t kNodeMaxPathChars = 4095;
inline constexpr HttpTimeouts kNodeTimeouts{15000, 15000, 30000, 30000};

// Millisecond tick source; the engine reads it once at the start and after every chunk.
using TickSource = std::function<std::uint64_t()>;

// The text RangedDownload reports when it stopped because stop was set.
inline constexpr wchar_t kDownloadPausedText[] = L"PAUSED";

// Transfers the authorised URL into the partial file, resuming at resumeOffset
// with an open-ended range when it is positive. Publishes the byte counters after
// every chunk and progress with a repaint at most every 150 ms, and stops at the
// next chunk boundary once stop is set. With a known expectedSize the file
// never grows past it, and a 206 answer is appended only when its
// Content-Range starts at resumeOffset; an expectedSize of 0 or less switches
// these and the final size check off. On false, errorText holds the reason
// ("PAUSED" for a pause). abort, when given, lets the closing side break a
// blocked call off. Never raises; never retries, hashes or renames.
bool RangedDownload(const std::wstring& url, const std::wstring& partPath, std::int64_t resumeOffset,
                    std::int64_t expectedSize, const StopFlag& stop, std::wstring& errorText,
                    HttpAbort* abort = nullptr);
bool RangedDownload(const std::wstring& url, const std::wstring& partPath, std::int64_t resumeOffset,
                    std::int64_t expectedSize, const StopFlag& stop, std::wstring& errorText,
                    const TickSource& ticks, HttpAbort* abort = nullptr);

// Whole percent of expected reached by position, 0 for an unknown size, never above 100.
int DownloadPercent(std::int64_t position, std::int64_t expectedSize);

}  // namespace orivanta
