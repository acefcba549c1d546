#include "download/RangedDownload.h"

#include <memory>

#include "common/FileAsItIs.h"
#include "common/Handles.h"
#include "common/SystemErrorText.h"
#include "download/ContentRange.h"
#include "state/AppState.h"

namespace orivanta {
namespace {

constexpr DWORD kChunkBytes = 65536;
constexpr std::uint64_t kProgressIntervalMs = 150;
constexpr std::int64_t kUnlimited = INT64_MAX;

std::wstring ErrorText(DWORD error) { return SystemErrorText(error); }

double AverageSpeed(std::int64_t bytes, std::uint64_t startTick, std::uint64_t now) {
    if (now <= startTick) return 0.0;
    return static_cast<double>(bytes) * 1000.0 / static_cast<double>(now - startTick);
}

std::wstring OverfillText(std::int64_t expectedSize) {
    return L"下载节点发送的数据超出安装包大小（" + std::to_wstring(expectedSize) +
           L" 字节），已停止写入，请重试下载。";
}

}  // namespace

int DownloadPercent(std::int64_t position, std::int64_t expectedSize) {
    if (expectedSize <= 0) return 0;
    const std::int64_t percent = position * 100 / expectedSize;
    return percent > 100 ? 100 : static_cast<int>(percent);
}

bool RangedDownload(const std::wstring& url, const std::wstring& partPath, std::int64_t resumeOffset,
                    std::int64_t expectedSize, const StopFlag& stop, std::wstring& errorText, HttpAbort* abort) {
    return RangedDownload(
        url, partPath, resumeOffset, expectedSize, stop, errorText,
        [] { return static_cast<std::uint64_t>(::GetTickCount64()); }, abort);
}

bool RangedDownload(const std::wstring& url, const std::wstring& partPath, std::int64_t resumeOffset,
                    std::int64_t expectedSize, const StopFlag& stop, std::wstring& errorText,
                    const TickSource& ticks, HttpAbort* abort) {
    HttpExchange exchange(url, L"GET", kNodeMaxPathChars, kNodeTimeouts, abort);
    switch (exchange.stage()) {
        case HttpStage::Ready:
            break;
        case HttpStage::InvalidUrl:
            errorText = L"临时下载地址无效";
            return false;
        case HttpStage::Session:
            errorText = ErrorText(exchange.error());
            return false;
        case HttpStage::Connection:
        case HttpStage::Request:
        case HttpStage::Aborted:
            errorText = L"无法连接阿里云下载节点：" + ErrorText(exchange.error());
            return false;
    }

    std::wstring rangeHeader;
    if (resumeOffset > 0) rangeHeader = L"Range: bytes=" + std::to_wstring(resumeOffset) + L"-\r\n";
    if (!exchange.Send(rangeHeader, WINHTTP_NO_REQUEST_DATA, 0)) {
        errorText = L"下载连接失败：" + ErrorText(exchange.error());
        return false;
    }
    const DWORD status = exchange.status();
    if (exchange.proxyRefused()) {
        errorText = ProxyRefusedText(status);
        return false;
    }
    if (status != 200 && status != 206) {
        errorText = L"下载节点返回状态 " + std::to_wstring(status);
        return false;
    }

    // A 200 answer to a range request carries the whole object: start the file over.
    const bool append = resumeOffset > 0 && status == 206;
    const std::int64_t offset = append ? resumeOffset : 0;
    // Checked before the file is opened, so that a misplaced answer changes nothing in it.
    if (status == 206) {
        errorText = MisplacedRangeText(exchange.Header(WINHTTP_QUERY_CONTENT_RANGE), resumeOffset, expectedSize);
        if (!errorText.empty()) return false;
    }
    const std::int64_t room = expectedSize > 0 ? expectedSize - offset : kUnlimited;

    UniqueHandle file = OpenFileAsItIs(partPath, GENERIC_WRITE, FILE_SHARE_READ, append ? OPEN_ALWAYS : CREATE_ALWAYS);
    if (!file) {
        errorText = L"无法保存下载文件：" + ErrorText(::GetLastError());
        return false;
    }
    // Never truncated at the offset: bytes beyond it are overwritten as new data arrives.
    LARGE_INTEGER seek;
    seek.QuadPart = offset;
    ::SetFilePointerEx(file.get(), seek, nullptr, FILE_BEGIN);

    AppState& app = App();
    const std::unique_ptr<char[]> buffer(new char[kChunkBytes]());
    std::int64_t position = offset;
    const std::uint64_t startTick = ticks();
    std::uint64_t lastPost = startTick;
    bool failed = false;

    while (!stop.load()) {
        DWORD received = 0;
        if (!exchange.Read(buffer.get(), kChunkBytes, received)) {
            errorText = L"下载中断：" + ErrorText(exchange.error());
            failed = true;
            break;
        }
        if (received == 0) break;
        // A node that sends more than the package holds never grows the file past it.
        const bool overfilled = static_cast<std::int64_t>(received) > room - (position - offset);
        const DWORD writable = overfilled ? static_cast<DWORD>(room - (position - offset)) : received;
        DWORD written = 0;
        if (writable > 0 && (!::WriteFile(file.get(), buffer.get(), writable, &written, nullptr) || written != writable)) {
            errorText = L"写入磁盘失败：" + ErrorText(::GetLastError());
            failed = true;
            break;
        }
        position += writable;
        app.bytesDone.store(position);
        app.bytesTotal.store(expectedSize);
        if (overfilled) {
            errorText = OverfillText(expectedSize);
            failed = true;
            break;
        }
        const std::uint64_t now = ticks();
        if (now - lastPost > kProgressIntervalMs) {
            app.progressPercent.exchange(DownloadPercent(position, expectedSize));
            app.speedBytesPerSecond.store(AverageSpeed(position - offset, startTick, now));
            PostRefresh();
            lastPost = now;
        }
    }

    ::FlushFileBuffers(file.get());
    file.reset();

    // The last chunks may have fallen inside a rate-limit window; the caller repaints
    // after this call, so the final figures must already be in place.
    app.bytesDone.store(position);
    app.bytesTotal.store(expectedSize);
    app.progressPercent.exchange(DownloadPercent(position, expectedSize));
    app.speedBytesPerSecond.store(AverageSpeed(position - offset, startTick, ticks()));

    if (stop.load()) {
        errorText = kDownloadPausedText;
        return false;
    }
    if (failed) return false;
    if (expectedSize > 0 && position != expectedSize) {
        errorText = L"文件大小不完整，已保留下载进度，可重试续传。";
        return false;
    }
    return true;
}

}  // namespace orivanta
