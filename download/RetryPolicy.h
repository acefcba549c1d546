#pragma once
// When a transfer from the download node is tried again, and after how long. A
// line that breaks mid-body is resumed at once; one that stays down is given up
// on within a few minutes; and a node that refuses the URL is asked for a fresh
// one only when the old one may have expired.

#include <chrono>
#include <optional>

#include "download/RangedDownload.h"

namespace orivanta {

// After an attempt that wrote bytes.
inline constexpr std::chrono::milliseconds kRetryAfterProgress{1000};
// After attempts without a byte: growing from the first to the longest, with jitter.
inline constexpr std::chrono::milliseconds kFirstBackoff{2000};
inline constexpr std::chrono::milliseconds kLongestBackoff{60000};
// The most of a node's Retry-After that is waited for.
inline constexpr std::chrono::seconds kLongestRetryAfter{120};
// Giving up: this many attempts in a row without a byte, or no attempt would begin
// this long after the last byte (or the first attempt).
inline constexpr int kAttemptsWithoutProgress = 6;
inline constexpr std::chrono::seconds kPatienceWithoutBytes{150};

// One failed attempt, as the decision sees it.
struct FailedAttempt {
    DownloadFault fault = DownloadFault::Other;
    unsigned long networkError = 0;
    unsigned long status = 0;
    std::optional<std::chrono::seconds> retryAfter;  // the node's Retry-After, read
    bool progressed = false;                          // the attempt wrote bytes
    int withoutProgress = 0;                          // attempts in a row without a byte, this one included
    std::chrono::milliseconds sinceLastByte{0};       // since the last byte, or since the first attempt began
    // The URL was answered before, or a wait came first, and the part file holds bytes to resume.
    bool urlMayHaveExpired = false;
    bool nodeAnsweredBefore = false;                  // the node's name resolved earlier in this request
    double jitter = 0.5;                              // a uniform draw from [0, 1)
};

enum class RetryStep { GiveUp, Wait, RenewUrl };

struct RetryDecision {
    RetryStep step = RetryStep::GiveUp;
    std::chrono::milliseconds delay{0};  // before the next attempt, for Wait
};

// A pure function of the attempt: no clock, no randomness of its own.
RetryDecision DecideRetry(const FailedAttempt& attempt);

}  // namespace orivanta
