#include "download/RangedDownload.h"

#include <memory>

#include "common/Handles.h"
#include "common/SystemErrorText.h"
#include "state/AppState.h"

namespace orivanta {
namespace {

constexpr DWORD kChunkBytes = 65536;
constexpr std::uint64_t kProgressIntervalMs = 150;
constexpr DWORD kHostCapacity = 256;
constexpr DWORD kPathCapacity = 4096;

struct CrackedUrl {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_HTTP;
    INTERNET_PORT port = 0;
    std::wstring host;
    std::wstring target;  // path plus the query string, so signed parameters travel unchanged
};

bool CrackDownloadUrl(const std::wstring& url, CrackedUrl& cracked) {
    wchar_t host[kHostCapacity] = {};
    wchar_t path[kPathCapacity] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = kHostCapacity;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = kPathCapacity;
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);  // referenced in place, any length
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    cracked.scheme = parts.nScheme;
    cracked.port = parts.nPort;
    cracked.host.assign(host, parts.dwHostNameLength);
    cracked.target.assign(path, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo != nullptr && parts.dwExtraInfoLength > 0) {
        cracked.target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    }
    return true;
}

std::wstring LastErrorText() { return SystemErrorText(::GetLastError()); }

double AverageSpeed(std::int64_t bytes, std::uint64_t startTick, std::uint64_t now) {
    if (now <= startTick) return 0.0;
    return static_cast<double>(bytes) * 1000.0 / static_cast<double>(now - startTick);
}

}  // namespace

int DownloadPercent(std::int64_t position, std::int64_t expectedSize) {
    if (expectedSize <= 0) return 0;
    const std::int64_t percent = position * 100 / expectedSize;
    return percent > 100 ? 100 : static_cast<int>(percent);
}

bool RangedDownload(const std::wstring& url, const std::wstring& partPath, std::int64_t resumeOffset,
                    std::int64_t expectedSize, const StopFlag& stop, std::wstring& errorText) {
    return RangedDownload(url, partPath, resumeOffset, expectedSize, stop, errorText,
                          [] { return static_cast<std::uint64_t>(::GetTickCount64()); });
}

bool RangedDownload(const std::wstring& url, const std::wstring& partPath, std::int64_t resumeOffset,
                    std::int64_t expectedSize, const StopFlag& stop, std::wstring& errorText,
                    const TickSource& ticks) {
    CrackedUrl cracked;
    if (!CrackDownloadUrl(url, cracked)) {
        errorText = L"临时下载地址无效";
        return false;
    }

    // Declared in this order so that the request closes first and the session last.
    UniqueInternet session(::WinHttpOpen(L"OrivantaInstaller/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                         WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        errorText = LastErrorText();
        return false;
    }
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    ::WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
    ::WinHttpSetTimeouts(session.get(), 15000, 15000, 30000, 30000);

    UniqueInternet connection(::WinHttpConnect(session.get(), cracked.host.c_str(), cracked.port, 0));
    UniqueInternet request;
    if (connection) {
        const DWORD flags = cracked.scheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
        request.reset(::WinHttpOpenRequest(connection.get(), L"GET", cracked.target.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    }
    if (!request) {
        errorText = L"无法连接阿里云下载节点：" + LastErrorText();
        return false;
    }

    std::wstring rangeHeader;
    if (resumeOffset > 0) rangeHeader = L"Range: bytes=" + std::to_wstring(resumeOffset) + L"-\r\n";
    const BOOL sent = ::WinHttpSendRequest(
        request.get(), rangeHeader.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : rangeHeader.c_str(),
        rangeHeader.empty() ? 0 : static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
    if (!sent || !::WinHttpReceiveResponse(request.get(), nullptr)) {
        errorText = L"下载连接失败：" + LastErrorText();
        return false;
    }

    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
        status = 0;
    }
    if (status != 200 && status != 206) {
        errorText = L"下载节点返回状态 " + std::to_wstring(status);
        return false;
    }

    // A 200 answer to a range request carries the whole object: start the file over.
    const bool append = resumeOffset > 0 && status == 206;
    const std::int64_t offset = append ? resumeOffset : 0;
    UniqueHandle file(::CreateFileW(partPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        errorText = L"无法保存下载文件：" + LastErrorText();
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
        if (!::WinHttpReadData(request.get(), buffer.get(), kChunkBytes, &received)) {
            errorText = L"下载中断：" + LastErrorText();
            failed = true;
            break;
        }
        if (received == 0) break;
        DWORD written = 0;
        if (!::WriteFile(file.get(), buffer.get(), received, &written, nullptr) || written != received) {
            errorText = L"写入磁盘失败：" + LastErrorText();
            failed = true;
            break;
        }
        position += received;
        app.bytesDone.store(position);
        app.bytesTotal.store(expectedSize);
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
