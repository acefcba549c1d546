#pragma once
// One request to the center or the download node: the WinHTTP set-up both share
// (URL, proxy of the current user, user agent, TLS 1.2 only, time-outs), the
// answer to a proxy log-on demand, and a way for the closing side to abort it.

#include <cstddef>
#include <mutex>
#include <string>

#include "common/Handles.h"

namespace orivanta {

class HttpAbort;

inline constexpr wchar_t kHttpUserAgent[] = L"OrivantaInstaller/1.0";

struct HttpTimeouts {
    int resolveMs = 0;
    int connectMs = 0;
    int sendMs = 0;
    int receiveMs = 0;
};

// How far opening an exchange got.
enum class HttpStage { Ready, InvalidUrl, Session, Connection, Request, Aborted };

class HttpExchange {
public:
    // Cracks the URL (path at most maxPathChars), chooses the session's proxy for it,
    // and opens the session, the connection and the request. Once abort has
    // aborted, it stops at HttpStage::Aborted before anything is sent.
    HttpExchange(const std::wstring& url, const wchar_t* verb, std::size_t maxPathChars, const HttpTimeouts& timeouts,
                 HttpAbort* abort = nullptr);
    ~HttpExchange();
    HttpExchange(const HttpExchange&) = delete;
    HttpExchange& operator=(const HttpExchange&) = delete;

    HttpStage stage() const { return stage_; }
    // The code of the last failing call.
    DWORD error() const { return error_; }

    // Sends the request (headers as CR LF terminated lines) and waits for the answer's
    // headers. A 407 of a proxy that settings name is answered once with the
    // logged-on user's credentials; one of a discovered proxy is not answered.
    // proxyRefused() tells that the proxy refused. False when the exchange failed
    // on the way (error()).
    bool Send(const std::wstring& headers, const void* body, DWORD length);
    // The answer's status, 0 when it could not be read.
    DWORD status() const { return status_; }
    bool proxyRefused() const { return status_ == HTTP_STATUS_PROXY_AUTH_REQ; }
    // A header of the answer (WINHTTP_QUERY_...), empty when absent.
    std::wstring Header(DWORD query) const;
    // One read of the answer's body; received is 0 at its end. False on failure (error()).
    bool Read(void* buffer, DWORD size, DWORD& received);

private:
    friend class HttpAbort;
    // The closing side's part: called under the abort's lock.
    void CloseHandles();
    // Held while a call that returns at once uses the request, and while a call
    // that may block picks it up, so that the closing side closes the handles
    // either before (the call is not made) or after that. No lock without an abort.
    std::unique_lock<std::mutex> HoldHandles() const;
    // The request for a call that may block, or null once closed. Such a call runs
    // without the lock: closing the handle under it is what breaks it off. Should it
    // close just before the call, the call fails on it: WinHTTP gives a closed
    // handle's number to the next handle opened, and the one thread that runs an
    // abort's exchanges opens none meanwhile.
    HINTERNET RequestForBlockingCall();
    // A failed call's code, or the cancellation when the closing side closed the handles meanwhile.
    void RecordFailure(DWORD error);
    bool OfferLogonCredentials();
    void Fail(HttpStage stage);

    HttpAbort* abort_ = nullptr;
    bool entered_ = false;
    bool answersProxyLogon_ = false;
    HttpStage stage_ = HttpStage::Ready;
    DWORD error_ = ERROR_SUCCESS;
    DWORD status_ = 0;
    // Owned here until the closing side closes them; no call is started on them afterwards.
    UniqueInternet session_;
    UniqueInternet connection_;
    UniqueInternet request_;
};

// The failure text when the proxy refused the request.
std::wstring ProxyRefusedText(DWORD status);

}  // namespace orivanta
