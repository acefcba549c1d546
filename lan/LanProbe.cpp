#include "lan/LanProbe.h"

#include "common/Handles.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>

namespace orivanta {

static_assert(FD_SETSIZE >= kProbeBatchSize, "one fd_set must hold every socket of a batch");

namespace {

struct PendingConnect {
    UniqueSocket socket;
    Ipv4Address address = 0;
};

LanProbeResult Found(Ipv4Address address) {
    in_addr binary{};
    binary.s_addr = ::htonl(address);
    wchar_t text[22] = {};
    LanProbeResult result;
    result.found = true;
    if (::InetNtopW(AF_INET, &binary, text, 22) != nullptr) result.hostText = text;
    return result;
}

bool ConnectSucceeded(SOCKET socket) {
    int error = 0;
    int length = sizeof(error);
    return ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0;
}

// Starts one non-blocking connect; a socket whose connect is under way joins pending.
bool StartConnect(Ipv4Address address, std::uint16_t port, std::vector<PendingConnect>& pending) {
    UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket) return false;
    u_long nonBlocking = 1;
    if (::ioctlsocket(socket.get(), FIONBIO, &nonBlocking) != 0) return false;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = ::htons(port);
    target.sin_addr.s_addr = ::htonl(address);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&target), sizeof(target)) == 0) return true;
    const int error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS) pending.push_back({std::move(socket), address});
    return false;
}

// Waits up to the batch budget. A refusal only retires its own socket: the wait
// goes on for the others, since a host that accepts a moment after a quick
// refusal in the same batch is still the host.
LanProbeResult AwaitBatch(std::vector<PendingConnect>& pending, const StopFlag& stop) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::microseconds(kProbeWaitMicroseconds);
    while (!pending.empty() && !stop) {
        const auto remaining =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        if (remaining <= 0) break;
        fd_set writeSet;
        fd_set exceptSet;
        FD_ZERO(&writeSet);
        FD_ZERO(&exceptSet);
        for (const PendingConnect& connect : pending) {
            FD_SET(connect.socket.get(), &writeSet);
            FD_SET(connect.socket.get(), &exceptSet);
        }
        timeval timeout{};
        timeout.tv_sec = static_cast<long>(remaining / 1000000);
        timeout.tv_usec = static_cast<long>(remaining % 1000000);
        if (::select(0, nullptr, &writeSet, &exceptSet, &timeout) <= 0) break;

        for (const PendingConnect& connect : pending) {
            const SOCKET socket = connect.socket.get();
            if (FD_ISSET(socket, &writeSet) && !FD_ISSET(socket, &exceptSet) && ConnectSucceeded(socket)) {
                return Found(connect.address);
            }
        }
        std::erase_if(pending, [&](const PendingConnect& connect) {
            return FD_ISSET(connect.socket.get(), &writeSet) || FD_ISSET(connect.socket.get(), &exceptSet);
        });
    }
    return {};
}

LanProbeResult ProbeBatch(const Ipv4Address* first, const Ipv4Address* last, std::uint16_t port,
                          const StopFlag& stop) {
    std::vector<PendingConnect> pending;
    pending.reserve(static_cast<std::size_t>(last - first));
    for (const Ipv4Address* address = first; address != last && !stop; ++address) {
        if (StartConnect(*address, port, pending)) return Found(*address);
    }
    return AwaitBatch(pending, stop);
}

}  // namespace

LanProbeResult ProbeHosts(const std::vector<Ipv4Address>& candidates, const StopFlag& stop, std::uint16_t port) {
    const Ipv4Address* const end = candidates.data() + candidates.size();
    for (const Ipv4Address* first = candidates.data(); first != end;) {
        if (stop) return {};
        const Ipv4Address* last = first + std::min<std::size_t>(kProbeBatchSize, static_cast<std::size_t>(end - first));
        LanProbeResult result = ProbeBatch(first, last, port, stop);
        if (result.found) return result;
        first = last;
    }
    return {};
}

}  // namespace orivanta
