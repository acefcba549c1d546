#include <gtest/gtest.h>

#include "common/Handles.h"

#include <ws2tcpip.h>

#include <chrono>
#include <thread>

#include "lan/LanProbe.h"

// Every probe here stays on loopback: a listener bound to one 127.0.0.x address
// accepts, the other 127.0.0.x addresses refuse on its port.

namespace orivanta {
namespace {

class WinsockEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        WSADATA data{};
        ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { ::WSACleanup(); }
};
const auto* const kWinsock = ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);

constexpr Ipv4Address Loopback(unsigned last) { return (127u << 24) | last; }

constexpr unsigned kListenerOctet = 77;

class Listener {
public:
    explicit Listener(Ipv4Address address) : socket_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = ::htonl(address);
        int length = sizeof(local);
        ok_ = socket_ && ::bind(socket_.get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0 &&
              ::listen(socket_.get(), 16) == 0 &&
              ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&local), &length) == 0;
        port_ = ::ntohs(local.sin_port);
        u_long nonBlocking = 1;
        ::ioctlsocket(socket_.get(), FIONBIO, &nonBlocking);
    }
    bool ok() const { return ok_; }
    std::uint16_t port() const { return port_; }
    bool WasContacted() const {
        UniqueSocket accepted(::accept(socket_.get(), nullptr, nullptr));
        return accepted.valid();
    }

private:
    UniqueSocket socket_;
    std::uint16_t port_ = 0;
    bool ok_ = false;
};

// Refusing loopback addresses, cycling through 127.0.0.2-254 without the listener's.
std::vector<Ipv4Address> Refusers(std::size_t count) {
    std::vector<Ipv4Address> addresses;
    unsigned octet = 2;
    while (addresses.size() < count) {
        if (octet != kListenerOctet) addresses.push_back(Loopback(octet));
        octet = octet == 254 ? 2 : octet + 1;
    }
    return addresses;
}

class LanProbe : public ::testing::Test {
protected:
    StopFlag closing_{false};
};

TEST_F(LanProbe, FindsTheListenerAnywhereInABatchBehindRefusals) {
    Listener listener(Loopback(kListenerOctet));
    ASSERT_TRUE(listener.ok());
    // First, middle and last of the first batch, then both ends of the second.
    for (std::size_t index : {std::size_t{0}, std::size_t{217}, kProbeBatchSize - 1, kProbeBatchSize,
                              2 * kProbeBatchSize - 1}) {
        std::vector<Ipv4Address> candidates = Refusers(2 * kProbeBatchSize);
        candidates[index] = Loopback(kListenerOctet);
        const LanProbeResult result = ProbeHosts(candidates, closing_, listener.port());
        EXPECT_TRUE(result.found) << "listener at index " << index;
        EXPECT_EQ(result.hostText, L"127.0.0.77") << "listener at index " << index;
        EXPECT_TRUE(listener.WasContacted());
    }
}

TEST_F(LanProbe, RefusalsAloneFindNothing) {
    Listener listener(Loopback(kListenerOctet));
    ASSERT_TRUE(listener.ok());
    EXPECT_FALSE(ProbeHosts(Refusers(kProbeBatchSize + 30), closing_, listener.port()).found);
    EXPECT_FALSE(ProbeHosts({}, closing_, listener.port()).found);
    EXPECT_FALSE(listener.WasContacted());
}

TEST_F(LanProbe, ClosingWindowBeforeTheStartProbesNothing) {
    Listener listener(Loopback(kListenerOctet));
    ASSERT_TRUE(listener.ok());
    closing_ = true;
    EXPECT_FALSE(ProbeHosts({Loopback(kListenerOctet)}, closing_, listener.port()).found);
    EXPECT_FALSE(listener.WasContacted());
}

TEST_F(LanProbe, ClosingWindowEndsALongProbeBeforeItReachesTheListener) {
    Listener listener(Loopback(kListenerOctet));
    ASSERT_TRUE(listener.ok());
    // Hundreds of batches: far longer than the moment the window takes to close.
    std::vector<Ipv4Address> candidates = Refusers(300 * kProbeBatchSize);
    candidates.push_back(Loopback(kListenerOctet));
    std::thread closer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        closing_ = true;
    });
    const LanProbeResult result = ProbeHosts(candidates, closing_, listener.port());
    closer.join();
    EXPECT_FALSE(result.found);
    EXPECT_FALSE(listener.WasContacted());
}

}  // namespace
}  // namespace orivanta
