#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include "download/RetryPolicy.h"
#include "net/RetryAfter.h"

namespace orivanta {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

FailedAttempt Failure(DownloadFault fault, unsigned long code = 0, int withoutProgress = 1) {
    FailedAttempt attempt;
    attempt.fault = fault;
    if (fault == DownloadFault::NodeStatus) {
        attempt.status = code;
    } else {
        attempt.networkError = code;
    }
    attempt.withoutProgress = withoutProgress;
    attempt.progressed = withoutProgress == 0;
    return attempt;
}

FailedAttempt With(FailedAttempt attempt, void (*change)(FailedAttempt&)) {
    change(attempt);
    return attempt;
}

TEST(RetryPolicyTest, EveryFaultGetsItsStepAndDelay) {
    using F = DownloadFault;
    const struct {
        const char* what;
        FailedAttempt attempt;
        RetryStep step;
        long long delayMs;
    } rows[] = {
        {"reset mid-body after bytes", Failure(F::Interrupted, WSAECONNRESET, 0), RetryStep::Wait, 1000},
        {"body short after bytes", Failure(F::ShortBody, 0, 0), RetryStep::Wait, 1000},
        {"silent node, first", Failure(F::Interrupted, WSAETIMEDOUT), RetryStep::Wait, 2000},
        {"refused, second", Failure(F::Unreachable, ERROR_WINHTTP_CANNOT_CONNECT, 2), RetryStep::Wait, 5000},
        {"refused by Winsock, third", Failure(F::Unreachable, WSAECONNREFUSED, 3), RetryStep::Wait, 12500},
        {"reset before the answer", Failure(F::Unreachable, ERROR_WINHTTP_CONNECTION_ERROR, 4), RetryStep::Wait, 31250},
        {"backoff capped", Failure(F::Unreachable, ERROR_WINHTTP_TIMEOUT, 5), RetryStep::Wait, 60000},
        {"jitter low", With(Failure(F::NodeStatus, 500), [](FailedAttempt& a) { a.jitter = 0.0; }), RetryStep::Wait, 1600},
        {"jitter high", With(Failure(F::NodeStatus, 502), [](FailedAttempt& a) { a.jitter = 0.99; }), RetryStep::Wait, 2392},
        {"jitter never passes the cap", With(Failure(F::NodeStatus, 504, 5), [](FailedAttempt& a) { a.jitter = 0.99; }),
         RetryStep::Wait, 60000},
        {"408", Failure(F::NodeStatus, 408), RetryStep::Wait, 2000},
        {"503 Retry-After", With(Failure(F::NodeStatus, 503), [](FailedAttempt& a) { a.retryAfter = seconds(7); }),
         RetryStep::Wait, 7000},
        {"429 Retry-After capped", With(Failure(F::NodeStatus, 429), [](FailedAttempt& a) { a.retryAfter = seconds(900); }),
         RetryStep::Wait, 120000},
        {"Retry-After only on 429 and 503", With(Failure(F::NodeStatus, 500), [](FailedAttempt& a) { a.retryAfter = seconds(9); }),
         RetryStep::Wait, 2000},
        {"sixth attempt without a byte", Failure(F::Interrupted, WSAECONNRESET, 6), RetryStep::GiveUp, 0},
        {"minutes without a byte", With(Failure(F::NodeStatus, 503, 3), [](FailedAttempt& a) { a.sinceLastByte = seconds(140); }),
         RetryStep::GiveUp, 0},
        {"Retry-After past the patience", With(Failure(F::NodeStatus, 503), [](FailedAttempt& a) {
             a.retryAfter = seconds(120);
             a.sinceLastByte = seconds(31);
         }), RetryStep::GiveUp, 0},
        {"name not resolved", Failure(F::Unreachable, ERROR_WINHTTP_NAME_NOT_RESOLVED), RetryStep::GiveUp, 0},
        {"TLS refused", Failure(F::Unreachable, ERROR_WINHTTP_SECURE_FAILURE), RetryStep::GiveUp, 0},
        {"other 4xx", Failure(F::NodeStatus, 416), RetryStep::GiveUp, 0},
        {"write error, full disk, faulty answer", Failure(F::Other), RetryStep::GiveUp, 0},
        {"pause", Failure(F::Paused), RetryStep::GiveUp, 0},
        {"403 of a fresh URL", Failure(F::NodeStatus, 403), RetryStep::GiveUp, 0},
        {"404 of a URL that worked", With(Failure(F::NodeStatus, 404, 6), [](FailedAttempt& a) { a.urlMayHaveExpired = true; }),
         RetryStep::RenewUrl, 0},
    };
    for (const auto& row : rows) {
        const RetryDecision decision = DecideRetry(row.attempt);
        EXPECT_EQ(decision.step, row.step) << row.what;
        EXPECT_EQ(decision.delay.count(), row.delayMs) << row.what;
    }
}

TEST(RetryAfterTest, SecondsAndTheThreeDateFormsAreReadAndGarbageIsNot) {
    const auto now = std::chrono::sys_days(std::chrono::year(1994) / 11 / 6) + std::chrono::hours(8) +
                     std::chrono::minutes(49) + seconds(30);
    EXPECT_EQ(ParseRetryAfter(L"5", now), seconds(5));
    EXPECT_EQ(ParseRetryAfter(L" 120 ", now), seconds(120));
    EXPECT_EQ(ParseRetryAfter(L"Sun, 06 Nov 1994 08:49:37 GMT", now), seconds(7));
    EXPECT_EQ(ParseRetryAfter(L"Sunday, 06-Nov-94 08:50:30 GMT", now), seconds(60));
    EXPECT_EQ(ParseRetryAfter(L"Sun Nov  6 08:49:40 1994", now), seconds(10));
    EXPECT_EQ(ParseRetryAfter(L"Sat, 05 Nov 1994 08:49:37 GMT", now), seconds(0)) << "a date past asks for no wait";
    EXPECT_GT(ParseRetryAfter(L"99999999999999999999", now), seconds(kLongestRetryAfter));
    for (const wchar_t* garbage : {L"", L"  ", L"soon", L"5s", L"-3", L"1.5", L"Sun, 31 Nov 1994 08:49:37 GMT",
                                   L"Sun, 06 Foo 1994 08:49:37 GMT", L"Sun, 06 Nov 1994 24:00:00 GMT",
                                   L"Sun, 06 Nov 1994 08:49 GMT", L"Sun, 06 Nov 1994 08:49:37 CET"}) {
        EXPECT_FALSE(ParseRetryAfter(garbage, now).has_value()) << testing::PrintToString(std::wstring(garbage));
    }
}

}  // namespace
}  // namespace orivanta
