#include "net/HttpExchange.h"

#include "net/HttpAbort.h"
#include "net/HttpUrl.h"
#include "net/ProxyChoice.h"

namespace orivanta {

HttpExchange::HttpExchange(const std::wstring& url, const wchar_t* verb, std::size_t maxPathChars,
                           const HttpTimeouts& timeouts, HttpAbort* abort)
    : abort_(abort) {
    HttpUrl target;
    if (!CrackHttpUrl(url, maxPathChars, target)) {
        Fail(HttpStage::InvalidUrl);
        return;
    }
    if (abort_ != nullptr && abort_->aborted()) {
        error_ = ERROR_WINHTTP_OPERATION_CANCELLED;
        stage_ = HttpStage::Aborted;
        return;
    }
    // The proxy is the session's: WinHTTP does not take a proxy set on a request everywhere.
    const ProxyChoice proxy = CurrentUserProxy(url);
    UniqueInternet session(::WinHttpOpen(kHttpUserAgent, proxy.accessType,
                                         proxy.proxy.empty() ? WINHTTP_NO_PROXY_NAME : proxy.proxy.c_str(),
                                         proxy.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : proxy.bypass.c_str(), 0));
    if (!session) {
        Fail(HttpStage::Session);
        return;
    }
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    ::WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
    ::WinHttpSetTimeouts(session.get(), timeouts.resolveMs, timeouts.connectMs, timeouts.sendMs, timeouts.receiveMs);
    UniqueInternet connection(::WinHttpConnect(session.get(), target.host.c_str(), target.port, 0));
    if (!connection) {
        Fail(HttpStage::Connection);
        return;
    }
    UniqueInternet request(::WinHttpOpenRequest(connection.get(), verb, target.target.c_str(), nullptr,
                                                WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                target.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) {
        Fail(HttpStage::Request);
        return;
    }
    answersProxyLogon_ = MayAnswerProxyLogon(proxy);
    if (!answersProxyLogon_) {
        // Nor does WinHTTP answer such a proxy on its own.
        DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
        ::WinHttpSetOption(request.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof(policy));
    }
    const auto takeHandles = [&] {
        session_ = std::move(session);
        connection_ = std::move(connection);
        request_ = std::move(request);
    };
    if (abort_ == nullptr) {
        takeHandles();
    } else if (!(entered_ = abort_->Enter(*this, takeHandles))) {
        // Nothing was sent; the handles close on the way out.
        error_ = ERROR_WINHTTP_OPERATION_CANCELLED;
        stage_ = HttpStage::Aborted;
    }
}

HttpExchange::~HttpExchange() {
    if (entered_) abort_->Leave(*this);
    CloseHandles();
}

void HttpExchange::Fail(HttpStage stage) {
    error_ = ::GetLastError();
    stage_ = stage;
}

// The request closes first and the session last.
void HttpExchange::CloseHandles() {
    request_.reset();
    connection_.reset();
    session_.reset();
}

std::unique_lock<std::mutex> HttpExchange::HoldHandles() const {
    return abort_ != nullptr ? std::unique_lock<std::mutex>(abort_->mutex_) : std::unique_lock<std::mutex>();
}

HINTERNET HttpExchange::RequestForBlockingCall() {
    const std::unique_lock<std::mutex> hold = HoldHandles();
    if (!request_) error_ = ERROR_WINHTTP_OPERATION_CANCELLED;
    return request_.get();
}

void HttpExchange::RecordFailure(DWORD error) {
    const std::unique_lock<std::mutex> hold = HoldHandles();
    error_ = request_ ? error : ERROR_WINHTTP_OPERATION_CANCELLED;
}

bool HttpExchange::Send(const std::wstring& headers, const void* body, DWORD length) {
    if (stage_ != HttpStage::Ready) return false;
    bool credentialsOffered = false;
    for (;;) {
        status_ = 0;
        HINTERNET request = RequestForBlockingCall();
        if (request == nullptr) return false;
        if (!::WinHttpSendRequest(request, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                                  headers.empty() ? 0 : static_cast<DWORD>(-1), const_cast<void*>(body), length,
                                  length, 0)) {
            RecordFailure(::GetLastError());
            return false;
        }
        if ((request = RequestForBlockingCall()) == nullptr) return false;
        if (!::WinHttpReceiveResponse(request, nullptr)) {
            RecordFailure(::GetLastError());
            return false;
        }
        {
            const std::unique_lock<std::mutex> hold = HoldHandles();
            if (!request_) {
                error_ = ERROR_WINHTTP_OPERATION_CANCELLED;
                return false;
            }
            DWORD status = 0;
            DWORD size = sizeof(status);
            if (::WinHttpQueryHeaders(request_.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
                status_ = status;
            }
            if (status_ != HTTP_STATUS_PROXY_AUTH_REQ || credentialsOffered || !answersProxyLogon_ ||
                !OfferLogonCredentials()) {
                return true;
            }
        }
        credentialsOffered = true;
    }
}

// Clinic proxies authenticate Windows users: only the schemes that can carry the
// logged-on user's credentials without asking for a password are answered.
// Called with the handles held.
bool HttpExchange::OfferLogonCredentials() {
    DWORD supported = 0;
    DWORD first = 0;
    DWORD target = 0;
    if (!::WinHttpQueryAuthSchemes(request_.get(), &supported, &first, &target)) return false;
    DWORD scheme = 0;
    if (supported & WINHTTP_AUTH_SCHEME_NEGOTIATE) {
        scheme = WINHTTP_AUTH_SCHEME_NEGOTIATE;
    } else if (supported & WINHTTP_AUTH_SCHEME_NTLM) {
        scheme = WINHTTP_AUTH_SCHEME_NTLM;
    } else {
        return false;
    }
    DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
    ::WinHttpSetOption(request_.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof(policy));
    return ::WinHttpSetCredentials(request_.get(), WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr, nullptr) !=
           FALSE;
}

std::wstring HttpExchange::Header(DWORD query) const {
    const std::unique_lock<std::mutex> hold = HoldHandles();
    if (!request_) return {};
    DWORD size = 0;
    ::WinHttpQueryHeaders(request_.get(), query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                          WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (!::WinHttpQueryHeaders(request_.get(), query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        return {};
    }
    value.resize(size / sizeof(wchar_t));
    return value;
}

bool HttpExchange::Read(void* buffer, DWORD size, DWORD& received) {
    received = 0;
    const HINTERNET request = RequestForBlockingCall();
    if (request == nullptr) return false;
    if (!::WinHttpReadData(request, buffer, size, &received)) {
        RecordFailure(::GetLastError());
        return false;
    }
    return true;
}

std::wstring ProxyRefusedText(DWORD status) {
    return L"代理服务器拒绝访问（状态 " + std::to_wstring(status) + L"），请联系网络管理员确认本机账户可以使用代理。";
}

}  // namespace orivanta
