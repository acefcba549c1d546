#include "center/CenterTransport.h"

#include <exception>
#include <stdexcept>

#include "common/Utf.h"
#include "net/HttpExchange.h"
#include "net/NetworkErrorText.h"
#include "state/AppState.h"

namespace orivanta {

namespace {

constexpr std::size_t kMaxPathChars = 2047;
constexpr DWORD kReadChunkBytes = 8192;
constexpr HttpTimeouts kCenterTimeouts{10000, 10000, 20000, 20000};
constexpr wchar_t kRequestHeaders[] = L"Content-Type: application/json; charset=utf-8\r\nAccept: application/json\r\n";

// "center request failed", with the network failure's own text as the cause.
[[noreturn]] void FailRequest(DWORD error) {
    try {
        throw std::runtime_error(Utf16ToUtf8(NetworkErrorText(error)));
    } catch (...) {
        std::throw_with_nested(std::runtime_error("center request failed"));
    }
}

}  // namespace

CenterResponse PostCenterJson(const std::wstring& url, const std::string& body, HttpAbort* abort) {
    HttpExchange exchange(url, L"POST", kMaxPathChars, kCenterTimeouts, abort);
    switch (exchange.stage()) {
        case HttpStage::Ready:
            break;
        case HttpStage::InvalidUrl:
            throw std::runtime_error("invalid center URL");
        case HttpStage::Session:
            throw std::runtime_error("network initialization failed");
        case HttpStage::Connection:
            throw std::runtime_error("center connection failed");
        case HttpStage::Request:
            throw std::runtime_error("request creation failed");
        case HttpStage::Aborted:
            FailRequest(exchange.error());
    }

    if (!exchange.Send(kRequestHeaders, body.data(), static_cast<DWORD>(body.size()))) FailRequest(exchange.error());
    if (exchange.proxyRefused()) throw std::runtime_error(Utf16ToUtf8(ProxyRefusedText(exchange.status())));

    CenterResponse response;
    response.status = exchange.status();
    // A read that fails mid-body ends the loop: the caller gets what arrived.
    char chunk[kReadChunkBytes];
    for (;;) {
        DWORD read = 0;
        if (!exchange.Read(chunk, sizeof(chunk), read) || read == 0) break;
        if (response.body.size() + read > kMaxCenterResponseBytes) {
            throw std::runtime_error("center response too large");
        }
        response.body.append(chunk, read);
    }

    App().centerResponded.exchange(true);
    return response;
}

}  // namespace orivanta
