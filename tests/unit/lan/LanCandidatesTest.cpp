#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "lan/LanCandidates.h"

namespace orivanta {
namespace {

constexpr std::uint32_t kEthernet = 6;

Ipv4Address Ip(const char* text) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(text, "%u.%u.%u.%u", &a, &b, &c, &d);
    return (a << 24) | (b << 16) | (c << 8) | d;
}

LanAdapter Adapter(std::vector<LanUnicastAddress> addresses, std::uint32_t type = kEthernet, bool up = true) {
    LanAdapter adapter;
    adapter.operationalUp = up;
    adapter.interfaceType = type;
    adapter.ipv4Addresses = std::move(addresses);
    return adapter;
}

std::vector<Ipv4Address> Range(const char* first, const char* last, Ipv4Address except = 0) {
    std::vector<Ipv4Address> result;
    for (Ipv4Address x = Ip(first); x <= Ip(last); ++x) {
        if (x != except) result.push_back(x);
    }
    return result;
}

TEST(LanCandidates, PrivateRangesOnly) {
    EXPECT_TRUE(IsPrivateAddress(Ip("10.0.0.0")));
    EXPECT_TRUE(IsPrivateAddress(Ip("10.255.255.255")));
    EXPECT_TRUE(IsPrivateAddress(Ip("172.16.0.1")));
    EXPECT_TRUE(IsPrivateAddress(Ip("172.31.255.254")));
    EXPECT_TRUE(IsPrivateAddress(Ip("192.168.0.1")));
    EXPECT_FALSE(IsPrivateAddress(Ip("172.15.255.255")));
    EXPECT_FALSE(IsPrivateAddress(Ip("172.32.0.0")));
    EXPECT_FALSE(IsPrivateAddress(Ip("192.169.0.1")));
    EXPECT_FALSE(IsPrivateAddress(Ip("11.0.0.1")));
    EXPECT_FALSE(IsPrivateAddress(Ip("127.0.0.1")));
    EXPECT_FALSE(IsPrivateAddress(Ip("169.254.1.1")));
}

TEST(LanCandidates, Slash24ProbesTheOther253AddressesInOrder) {
    const LanCandidates c = BuildLanCandidates({Adapter({{Ip("192.168.1.10"), 24}})}, {});
    EXPECT_EQ(c.addresses, Range("192.168.1.1", "192.168.1.254", Ip("192.168.1.10")));
    EXPECT_EQ(c.addresses.size(), 253u);
    EXPECT_EQ(c.ownAddresses, std::vector<Ipv4Address>{Ip("192.168.1.10")});
}

TEST(LanCandidates, Slash8IsScannedAsItsSlash16OwnSlash24First) {
    const LanCandidates c = BuildLanCandidates({Adapter({{Ip("10.1.2.3"), 8}})}, {});
    std::vector<Ipv4Address> expected = Range("10.1.2.1", "10.1.2.254", Ip("10.1.2.3"));
    for (Ipv4Address x = Ip("10.1.0.1"); x <= Ip("10.1.255.254"); ++x) {
        if ((x & 0xFFFFFF00u) != Ip("10.1.2.0")) expected.push_back(x);
    }
    ASSERT_EQ(c.addresses.size(), expected.size());
    EXPECT_EQ(c.addresses.size(), 65531u);
    EXPECT_TRUE(c.addresses == expected);
    EXPECT_EQ(c.addresses[253], Ip("10.1.0.1"));
    EXPECT_EQ(c.addresses.back(), Ip("10.1.255.254"));
}

TEST(LanCandidates, NarrowPrefixesStillScanTheOwnSlash24) {
    const LanCandidates slash30 = BuildLanCandidates({Adapter({{Ip("172.20.5.5"), 30}})}, {});
    EXPECT_EQ(slash30.addresses, Range("172.20.5.1", "172.20.5.254", Ip("172.20.5.5")));

    const LanCandidates slash26 = BuildLanCandidates({Adapter({{Ip("192.168.9.70"), 26}})}, {});
    EXPECT_EQ(slash26.addresses, Range("192.168.9.1", "192.168.9.254", Ip("192.168.9.70")));
}

TEST(LanCandidates, AddressesAndAdaptersThatContributeNoSubnet) {
    const std::vector<LanAdapter> adapters = {
        Adapter({{Ip("192.168.2.2"), 31}, {Ip("192.168.3.3"), 32}}),
        Adapter({{Ip("8.8.8.8"), 24}, {Ip("100.64.1.1"), 16}}),
        Adapter({{Ip("192.168.4.4"), 24}}, kInterfaceTypeSoftwareLoopback),
        Adapter({{Ip("10.9.9.9"), 24}}, kInterfaceTypeTunnel),
        Adapter({{Ip("172.16.1.1"), 24}}, kEthernet, false),
    };
    const LanCandidates c = BuildSubnetCandidates(adapters);
    EXPECT_TRUE(c.addresses.empty());
    // Only the usable adapter's private addresses are the computer's own.
    EXPECT_EQ(c.ownAddresses, (std::vector<Ipv4Address>{Ip("192.168.2.2"), Ip("192.168.3.3")}));
}

TEST(LanCandidates, NoPrivateAddressAtAllGivesAnEmptyList) {
    EXPECT_TRUE(BuildLanCandidates({}, {}).addresses.empty());
    EXPECT_TRUE(BuildLanCandidates({Adapter({{Ip("203.0.113.5"), 24}})}, {Ip("8.8.8.8")}).addresses.empty());
}

TEST(LanCandidates, TwoAdaptersOnOneSubnetProbeEachOtherOnce) {
    const LanCandidates c = BuildLanCandidates(
        {Adapter({{Ip("192.168.1.10"), 24}}), Adapter({{Ip("192.168.1.11"), 24}})}, {});
    std::vector<Ipv4Address> expected = Range("192.168.1.1", "192.168.1.254", Ip("192.168.1.10"));
    expected.push_back(Ip("192.168.1.10"));
    EXPECT_EQ(c.addresses, expected);
    EXPECT_EQ(c.ownAddresses, (std::vector<Ipv4Address>{Ip("192.168.1.10"), Ip("192.168.1.11")}));
}

TEST(LanCandidates, OverlappingNetworksAddEachAddressOnce) {
    const LanCandidates c = BuildLanCandidates(
        {Adapter({{Ip("172.20.1.1"), 16}}), Adapter({{Ip("172.20.1.200"), 20}})}, {});
    // The second address's passes add only the first adapter's own address.
    EXPECT_EQ(c.addresses.size(), 65531u + 1u);
    EXPECT_EQ(c.addresses.back(), Ip("172.20.1.1"));
    EXPECT_EQ(std::set<Ipv4Address>(c.addresses.begin(), c.addresses.end()).size(), c.addresses.size());
}

TEST(LanCandidates, NeighboursComeFirstInTableOrderEachOnceAndNeverOwnAddresses) {
    const std::vector<LanAdapter> adapters = {Adapter({{Ip("192.168.1.10"), 24}}),
                                              Adapter({{Ip("10.0.0.5"), 32}})};
    const std::vector<Ipv4Address> table = {Ip("192.168.7.7"),  Ip("192.168.1.50"), Ip("8.8.8.8"),
                                            Ip("192.168.1.10"), Ip("10.0.0.5"),     Ip("192.168.7.7"),
                                            Ip("192.168.1.50"), Ip("192.168.1.1"),  Ip("224.0.0.251")};
    const LanCandidates c = BuildLanCandidates(adapters, table);

    std::vector<Ipv4Address> expected = {Ip("192.168.7.7"), Ip("192.168.1.50"), Ip("192.168.1.1")};
    for (Ipv4Address x : Range("192.168.1.2", "192.168.1.254", Ip("192.168.1.10"))) {
        if (x != Ip("192.168.1.50")) expected.push_back(x);
    }
    EXPECT_EQ(c.addresses, expected);
}

TEST(LanCandidates, NeighboursAreProbedEvenWithoutASubnet) {
    const LanCandidates c = BuildLanCandidates({Adapter({{Ip("192.168.3.3"), 32}})},
                                               {Ip("192.168.3.1"), Ip("192.168.3.3")});
    EXPECT_EQ(c.addresses, std::vector<Ipv4Address>{Ip("192.168.3.1")});
}

TEST(LanCandidates, NetworkPassesStopAtTheCapButEveryOwnSlash24IsScanned) {
    std::vector<LanAdapter> adapters = {
        Adapter({{Ip("192.168.1.10"), 24}}), Adapter({{Ip("10.1.2.3"), 16}}), Adapter({{Ip("10.2.2.3"), 16}}),
        Adapter({{Ip("10.3.2.3"), 16}}),     Adapter({{Ip("10.4.2.3"), 16}}),
    };
    const LanCandidates capped = BuildSubnetCandidates(adapters);
    ASSERT_EQ(capped.addresses.size(), kMaxSubnetCandidates);
    // 253 + 3 x 65,531 + 253 before the fourth network pass, which then adds 65,045.
    EXPECT_EQ(capped.addresses.back(), Ip("10.4.255.21"));

    adapters.push_back(Adapter({{Ip("10.5.2.3"), 16}}));
    const LanCandidates beyond = BuildLanCandidates(adapters, {Ip("10.6.0.1")});
    const std::vector<Ipv4Address> ownSlash24 = Range("10.5.2.1", "10.5.2.254", Ip("10.5.2.3"));
    ASSERT_EQ(beyond.addresses.size(), kMaxSubnetCandidates + ownSlash24.size() + 1);
    EXPECT_EQ(beyond.addresses.front(), Ip("10.6.0.1"));
    EXPECT_TRUE(std::equal(ownSlash24.begin(), ownSlash24.end(), beyond.addresses.end() - ownSlash24.size()));
}

}  // namespace
}  // namespace orivanta
