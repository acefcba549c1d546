#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include "download/RetryPolicy.h"
#include "net/RetryAfter.h"

namespace orivanta {
namespace {

using std::chrono::seconds;

TEST(RetryPolicyTest, EveryFaultGetsItsStepAndDelay) {
    using F = DownloadFault;
    using S = RetryStep;
    const F cut = F::Interrupted, down = F::Unreachable, node = F::NodeStatus;
    const struct { const char* what; FailedAttempt attempt; RetryStep step; long long delayMs; } rows[] = {
        {"cut after bytes", {.fault = cut, .networkError = WSAECONNRESET, .progressed = true}, S::Wait, 1000},
        {"short body after bytes", {.fault = F::ShortBody, .progressed = true}, S::Wait, 1000},
        {"silent node", {.fault = cut, .networkError = WSAETIMEDOUT, .withoutProgress = 1}, S::Wait, 2000},
        {"refused", {.fault = down, .networkError = ERROR_WINHTTP_CANNOT_CONNECT, .withoutProgress = 2}, S::Wait, 5000},
        {"refused (Winsock)", {.fault = down, .networkError = WSAECONNREFUSED, .withoutProgress = 3}, S::Wait, 12500},
        {"reset", {.fault = down, .networkError = ERROR_WINHTTP_CONNECTION_ERROR, .withoutProgress = 4}, S::Wait, 31250},
        {"capped", {.fault = down, .networkError = ERROR_WINHTTP_TIMEOUT, .withoutProgress = 5}, S::Wait, 60000},
        {"jitter low", {.fault = node, .status = 500, .withoutProgress = 1, .jitter = 0.0}, S::Wait, 1600},
        {"jitter high", {.fault = node, .status = 502, .withoutProgress = 1, .jitter = 0.99}, S::Wait, 2392},
        {"jitter within the cap", {.fault = node, .status = 504, .withoutProgress = 5, .jitter = 0.99}, S::Wait, 60000},
        {"408", {.fault = node, .status = 408, .withoutProgress = 1}, S::Wait, 2000},
        {"503 Retry-After", {.fault = node, .status = 503, .retryAfter = seconds(7), .withoutProgress = 1}, S::Wait, 7000},
        {"429 capped", {.fault = node, .status = 429, .retryAfter = seconds(900), .withoutProgress = 1}, S::Wait, 120000},
        {"500 Retry-After", {.fault = node, .status = 500, .retryAfter = seconds(9), .withoutProgress = 1}, S::Wait, 2000},
        {"sixth in a row", {.fault = cut, .networkError = WSAECONNRESET, .withoutProgress = 6}, S::GiveUp, 0},
        {"long without bytes", {.fault = node, .status = 503, .withoutProgress = 3, .sinceLastByte = seconds(140)},
         S::GiveUp, 0},
        {"Retry-After past patience", {.fault = node, .status = 503, .retryAfter = seconds(120), .withoutProgress = 1,
                                       .sinceLastByte = seconds(31)}, S::GiveUp, 0},
        {"name not resolved", {.fault = down, .networkError = ERROR_WINHTTP_NAME_NOT_RESOLVED}, S::GiveUp, 0},
        {"name lost once the node answered", {.fault = down, .networkError = ERROR_WINHTTP_NAME_NOT_RESOLVED,
                                              .withoutProgress = 1, .nodeAnsweredBefore = true}, S::Wait, 2000},
        {"TLS refused", {.fault = down, .networkError = ERROR_WINHTTP_SECURE_FAILURE}, S::GiveUp, 0},
        {"other 4xx", {.fault = node, .status = 416, .urlMayHaveExpired = true}, S::GiveUp, 0},
        {"disk, write, faulty answer", {.fault = F::Other}, S::GiveUp, 0},
        {"pause", {.fault = F::Paused}, S::GiveUp, 0},
        {"403 of a fresh URL", {.fault = node, .status = 403}, S::GiveUp, 0},
        {"404 of a URL that worked", {.fault = node, .status = 404, .withoutProgress = 6, .urlMayHaveExpired = true},
         S::RenewUrl, 0},
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
