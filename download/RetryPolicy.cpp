#include "download/RetryPolicy.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>

namespace orivanta {
namespace {

using std::chrono::milliseconds;

constexpr double kBackoffGrowth = 2.5;
constexpr double kJitterShare = 0.2;

// The failures of a connection that a shaky line or a busy node causes. A refused
// TLS handshake or certificate is not among them, nor a name that never resolved
// (a wrong URL); one that resolved before and no longer does is a line gone down.
bool ConnectionFailure(unsigned long code, bool nodeAnsweredBefore) {
    switch (code) {
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            return nodeAnsweredBefore;
        case ERROR_WINHTTP_TIMEOUT:
        case ERROR_WINHTTP_CANNOT_CONNECT:
        case ERROR_WINHTTP_CONNECTION_ERROR:
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        case WSAECONNABORTED:
        case WSAECONNRESET:
        case WSAETIMEDOUT:
        case WSAECONNREFUSED:
        case WSAEHOSTUNREACH:
            return true;
        default:
            return false;
    }
}

bool BusyStatus(unsigned long status) {
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

bool Transient(const FailedAttempt& attempt) {
    switch (attempt.fault) {
        case DownloadFault::Interrupted:
        case DownloadFault::ShortBody:
            return true;
        case DownloadFault::Unreachable:
            return ConnectionFailure(attempt.networkError, attempt.nodeAnsweredBefore);
        case DownloadFault::NodeStatus:
            return BusyStatus(attempt.status);
        default:
            return false;
    }
}

milliseconds Backoff(int withoutProgress, double jitter) {
    double delay = static_cast<double>(kFirstBackoff.count());
    for (int step = 1; step < withoutProgress && delay < kLongestBackoff.count(); ++step) delay *= kBackoffGrowth;
    delay = std::min(delay, static_cast<double>(kLongestBackoff.count()));
    delay *= 1.0 - kJitterShare + 2.0 * kJitterShare * jitter;
    return std::min(milliseconds(static_cast<long long>(delay)), kLongestBackoff);
}

}  // namespace

RetryDecision DecideRetry(const FailedAttempt& attempt) {
    // A signed URL that expired while the line was down reads as a refusal.
    if (attempt.fault == DownloadFault::NodeStatus && (attempt.status == 403 || attempt.status == 404)) {
        return {attempt.urlMayHaveExpired ? RetryStep::RenewUrl : RetryStep::GiveUp, milliseconds(0)};
    }
    if (!Transient(attempt)) return {};
    if (attempt.progressed) return {RetryStep::Wait, kRetryAfterProgress};
    if (attempt.withoutProgress >= kAttemptsWithoutProgress) return {};
    const bool asked = attempt.retryAfter && (attempt.status == 429 || attempt.status == 503);
    const milliseconds delay = asked ? std::min<milliseconds>(*attempt.retryAfter, kLongestRetryAfter)
                                     : Backoff(attempt.withoutProgress, attempt.jitter);
    if (attempt.sinceLastByte + delay > kPatienceWithoutBytes) return {};
    return {RetryStep::Wait, delay};
}

}  // namespace orivanta
