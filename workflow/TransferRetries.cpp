#include "workflow/TransferRetries.h"

#include <windows.h>

#include <random>
#include <stdexcept>

#include "common/Utf.h"
#include "download/RangedDownload.h"
#include "download/RetryPolicy.h"
#include "net/HttpAbort.h"
#include "net/RetryAfter.h"
#include "state/AppState.h"

namespace orivanta {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kStopPollInterval{100};

bool Stopped(const StopFlag& stop, const HttpAbort& abort) { return stop.load() || abort.aborted(); }

// "网络不稳定，8 秒后自动继续（第 2 次）": the wait before attempt number nextAttempt.
std::wstring RetryCountdownText(long long seconds, int nextAttempt) {
    return L"网络不稳定，" + std::to_wstring(seconds) + L" 秒后自动继续（第 " + std::to_wstring(nextAttempt) + L" 次）";
}

// Counts the seconds down in the status line, the failure standing in the detail line.
void WaitToRetry(milliseconds delay, int nextAttempt, const std::wstring& cause, const StopFlag& stop,
                 const HttpAbort& abort, const RetryClock& clock) {
    Checkpoint(L"下载中断，等待自动继续");
    const auto until = clock.now() + delay;
    long long shown = -1;
    for (;;) {
        if (Stopped(stop, abort)) throw StopRequested();
        const auto left = std::chrono::ceil<milliseconds>(until - clock.now());
        if (left <= milliseconds(0)) return;
        const long long seconds = std::chrono::ceil<std::chrono::seconds>(left).count();
        if (seconds != shown) {
            SetStatusAndDetail(RetryCountdownText(seconds, nextAttempt), cause);
            PostRefresh();
            shown = seconds;
        }
        clock.sleep(std::min(left, kStopPollInterval));
    }
}

}  // namespace

RetryClock SystemRetryClock() {
    return {[] { return std::chrono::steady_clock::now(); }, [] { return std::chrono::system_clock::now(); },
            [](milliseconds delay) { ::Sleep(static_cast<DWORD>(delay.count())); },
            [] {
                thread_local std::mt19937 engine{std::random_device{}()};
                return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
            }};
}

void TransferWithRetries(NodeTransfer transfer, const UrlRenewal& renew, const StopFlag& stop, HttpAbort& abort,
                         const RetryClock& clock) {
    int attempts = 0;
    int withoutProgress = 0;
    bool urlAnswered = false;
    bool nodeAnswered = false;
    bool waited = false;
    auto lastByte = clock.now();
    for (;;) {
        if (attempts > 0 && Stopped(stop, abort)) throw StopRequested();
        ++attempts;
        Checkpoint(L"从阿里云 OSS 下载安装包");
        SetStatusAndDetail(L"正在安全下载", transfer.fileName);
        PostRefresh();
        std::wstring errorText;
        DownloadAttempt attempt;
        const bool complete = RangedDownload(transfer.url, transfer.partPath, transfer.offset, transfer.size, stop,
                                             errorText, &abort, &attempt);
        transfer.offset = attempt.position;
        if (complete) return;
        if (Stopped(stop, abort)) throw StopRequested();

        FailedAttempt failed;
        failed.fault = attempt.fault;
        failed.networkError = attempt.networkError;
        failed.status = attempt.status;
        failed.retryAfter = ParseRetryAfter(attempt.retryAfter, clock.wallNow());
        failed.progressed = attempt.received > 0;
        if (failed.progressed) lastByte = clock.now();
        withoutProgress = failed.progressed ? 0 : withoutProgress + 1;
        failed.withoutProgress = withoutProgress;
        failed.sinceLastByte = std::chrono::duration_cast<milliseconds>(clock.now() - lastByte);
        urlAnswered = urlAnswered || attempt.status == 200 || attempt.status == 206;
        nodeAnswered = nodeAnswered || attempt.status != 0;
        failed.nodeAnsweredBefore = nodeAnswered;
        // Only a start that resumes bytes is not counted again: an empty part file is not renewed for.
        failed.urlMayHaveExpired = (urlAnswered || waited) && transfer.offset > 0;
        failed.jitter = clock.jitter();

        const RetryDecision decision = DecideRetry(failed);
        waited = false;
        switch (decision.step) {
            case RetryStep::GiveUp:
                if (attempts > 1) errorText += L"（共尝试 " + std::to_wstring(attempts) + L" 次）";
                throw std::runtime_error(Utf16ToUtf8(errorText));
            case RetryStep::RenewUrl:
                transfer = renew(transfer.offset);
                urlAnswered = false;
                break;
            case RetryStep::Wait:
                WaitToRetry(decision.delay, attempts + 1, errorText, stop, abort, clock);
                waited = true;
                break;
        }
    }
}

}  // namespace orivanta
