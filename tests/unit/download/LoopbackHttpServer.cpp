#include "LoopbackHttpServer.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace orivanta::test {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool SendAll(SOCKET socket, const char* data, std::int64_t size) {
    while (size > 0) {
        const int sent = ::send(socket, data, static_cast<int>(std::min<std::int64_t>(size, 16384)), 0);
        if (sent <= 0) return false;
        data += sent;
        size -= sent;
    }
    return true;
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof(address);
    if (listener_ == INVALID_SOCKET || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("loopback server could not listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    stopping_ = true;
    ::closesocket(listener_);
    thread_.join();
    ::WSACleanup();
}

std::wstring LoopbackHttpServer::Url(const std::wstring& target) const {
    return L"http://127.0.0.1:" + std::to_wstring(port_) + target;
}

void LoopbackHttpServer::SetBody(std::string body) {
    std::lock_guard<std::mutex> lock(mutex_);
    body_ = std::move(body);
}

std::vector<ServedRequest> LoopbackHttpServer::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void LoopbackHttpServer::Serve() {
    while (!stopping_) {
        const SOCKET client = ::accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) break;
        Answer(client);
        ::shutdown(client, SD_SEND);
        ::closesocket(client);
    }
}

void LoopbackHttpServer::Answer(SOCKET client) {
    std::string head;
    char byte = 0;
    while (head.size() < 65536 && head.find("\r\n\r\n") == std::string::npos) {
        if (::recv(client, &byte, 1, 0) != 1) return;
        head.push_back(byte);
    }
    ServedRequest request;
    const size_t lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const size_t firstBlank = line.find(' ');
    const size_t secondBlank = line.find(' ', firstBlank + 1);
    request.method = line.substr(0, firstBlank);
    request.target = line.substr(firstBlank + 1, secondBlank - firstBlank - 1);
    const std::string lowered = Lower(head);
    const size_t rangeAt = lowered.find("\r\nrange:");
    if (rangeAt != std::string::npos) {
        size_t valueAt = rangeAt + 8;
        while (head[valueAt] == ' ') ++valueAt;
        request.range = head.substr(valueAt, head.find("\r\n", valueAt) - valueAt);
    }

    std::string body;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        body = body_;
    }
    const std::int64_t size = static_cast<std::int64_t>(body.size());
    int status = 200;
    std::int64_t start = 0;
    if (!request.range.empty() && !ignoreRange_ && request.range.rfind("bytes=", 0) == 0) {
        start = std::stoll(request.range.substr(6));
        status = start < size ? 206 : 416;
    }
    if (statusOverride_ != 0) status = statusOverride_;

    std::string answer = "HTTP/1.1 " + std::to_string(status) + (status < 300 ? " OK" : " Refused") + "\r\n";
    answer += "Connection: close\r\n";
    if (status == 200 || status == 206) {
        if (status == 200) start = 0;
        answer += "Content-Length: " + std::to_string(size - start) + "\r\n";
        if (status == 206) {
            answer += "Content-Range: bytes " + std::to_string(start) + "-" + std::to_string(size - 1) + "/" +
                      std::to_string(size) + "\r\n";
        }
        answer += "\r\n";
        if (!SendAll(client, answer.data(), static_cast<std::int64_t>(answer.size()))) return;
        std::int64_t count = size - start;
        if (cutAfter_ >= 0) count = std::min<std::int64_t>(count, cutAfter_);
        if (SendAll(client, body.data() + start, count)) bodyBytesSent_ += count;
    } else {
        answer += "Content-Length: 0\r\n\r\n";
        SendAll(client, answer.data(), static_cast<std::int64_t>(answer.size()));
    }
}

}  // namespace orivanta::test
