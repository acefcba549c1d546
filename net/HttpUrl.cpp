#include "net/HttpUrl.h"

#include <vector>

namespace orivanta {

namespace {
constexpr DWORD kHostCapacity = 256;
}  // namespace

bool CrackHttpUrl(const std::wstring& url, std::size_t maxPathChars, HttpUrl& cracked) {
    wchar_t host[kHostCapacity] = {};
    std::vector<wchar_t> path(maxPathChars + 1);
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = kHostCapacity;
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);  // referenced in place, any length
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
    cracked.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    cracked.port = parts.nPort;
    cracked.host.assign(host, parts.dwHostNameLength);
    cracked.target.assign(path.data(), parts.dwUrlPathLength);
    if (parts.lpszExtraInfo != nullptr && parts.dwExtraInfoLength > 0) {
        cracked.target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    }
    return true;
}

}  // namespace orivanta
