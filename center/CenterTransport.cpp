#include "center/CenterTransport.h"

#include <stdexcept>

#include "common/Handles.h"
#include "state/AppState.h"

namespace orivanta {

namespace {

constexpr DWORD kHostBufferChars = 256;
constexpr DWORD kPathBufferChars = 2048;
constexpr DWORD kReadChunkBytes = 8192;
constexpr wchar_t kUserAgent[] = L"OrivantaInstaller/1.0";
constexpr wchar_t kRequestHeaders[] = L"Content-Type: application/json; charset=utf-8\r\nAccept: application/json\r\n";

struct CrackedUrl {
    INTERNET_SCHEME scheme = 0;
    INTERNET_PORT port = 0;
    wchar_t host[kHostBufferChars] = {};
    wchar_t path[kPathBufferChars] = {};
};

bool CrackCenterUrl(const std::wstring& url, CrackedUrl& cracked) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = cracked.host;
    parts.dwHostNameLength = kHostBufferChars;
    parts.lpszUrlPath = cracked.path;
    parts.dwUrlPathLength = kPathBufferChars;
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    cracked.scheme = parts.nScheme;
    cracked.port = parts.nPort;
    return true;
}

}  // namespace

CenterResponse PostCenterJson(const std::wstring& url, const std::string& body) {
    CrackedUrl target;
    if (!CrackCenterUrl(url, target)) throw std::runtime_error("invalid center URL");

    UniqueInternet session(::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) throw std::runtime_error("network initialization failed");

    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    ::WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
    ::WinHttpSetTimeouts(session.get(), 10000, 10000, 20000, 20000);

    UniqueInternet connection(::WinHttpConnect(session.get(), target.host, target.port, 0));
    if (!connection) throw std::runtime_error("center connection failed");

    const DWORD requestFlags = target.scheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    UniqueInternet request(::WinHttpOpenRequest(connection.get(), L"POST", target.path, nullptr,
                                                WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, requestFlags));
    if (!request) throw std::runtime_error("request creation failed");

    const DWORD bodyLength = static_cast<DWORD>(body.size());
    if (!::WinHttpSendRequest(request.get(), kRequestHeaders, static_cast<DWORD>(-1),
                              const_cast<char*>(body.data()), bodyLength, bodyLength, 0) ||
        !::WinHttpReceiveResponse(request.get(), nullptr)) {
        throw std::runtime_error("center request failed");
    }

    CenterResponse response;
    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    if (::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
        response.status = status;
    }

    // A read that fails mid-body ends the loop: the caller gets what arrived.
    char chunk[kReadChunkBytes];
    for (;;) {
        DWORD read = 0;
        if (!::WinHttpReadData(request.get(), chunk, sizeof(chunk), &read) || read == 0) break;
        if (response.body.size() + read > kMaxCenterResponseBytes) {
            throw std::runtime_error("center response too large");
        }
        response.body.append(chunk, read);
    }

    App().centerResponded.exchange(true);
    return response;
}

}  // namespace orivanta
