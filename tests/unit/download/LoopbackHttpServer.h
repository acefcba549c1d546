#pragma once
// A one-request-per-connection HTTP server on 127.0.0.1 that serves one object
// with or without range support and can misbehave on request.

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orivanta::test {

struct ServedRequest {
    std::string method;
    std::string target;
    std::string range;  // value of the Range header, empty when absent
};

class LoopbackHttpServer {
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    std::wstring Url(const std::wstring& target = L"/objects/package.exe?Expires=1&Signature=a%2Bb") const;

    void SetBody(std::string body);
    void SetIgnoreRange(bool ignore) { ignoreRange_ = ignore; }
    void SetStatusOverride(int status) { statusOverride_ = status; }
    // Closes the connection after this many body bytes although more were announced.
    void SetCutAfter(std::int64_t bytes) { cutAfter_ = bytes; }

    std::vector<ServedRequest> Requests();
    std::int64_t BodyBytesSent() const { return bodyBytesSent_; }

private:
    void Serve();
    void Answer(SOCKET client);

    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::string body_;
    std::vector<ServedRequest> requests_;
    std::atomic<bool> ignoreRange_{false};
    std::atomic<int> statusOverride_{0};
    std::atomic<std::int64_t> cutAfter_{-1};
    std::atomic<std::int64_t> bodyBytesSent_{0};
};

}  // namespace orivanta::test
