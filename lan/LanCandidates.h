#pragma once
// The ordered list of addresses the LAN probe tries, built from plain adapter
// and neighbour data so that every rule can be checked without a network.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orivanta {

// IPv4 addresses are held in host byte order.
using Ipv4Address = std::uint32_t;

// Interface types that never lead to a clinic host.
constexpr std::uint32_t kInterfaceTypeSoftwareLoopback = 24;
constexpr std::uint32_t kInterfaceTypeTunnel = 131;

// The subnet passes stop adding once the list holds this many (1 MiB of entries).
constexpr std::size_t kMaxSubnetCandidates = 262144;

struct LanUnicastAddress {
    Ipv4Address address = 0;
    unsigned prefixLength = 0;  // on-link prefix length, 0..32
};

struct LanAdapter {
    bool operationalUp = false;
    std::uint32_t interfaceType = 0;
    std::vector<LanUnicastAddress> ipv4Addresses;
};

struct LanCandidates {
    std::vector<Ipv4Address> ownAddresses;  // private addresses of the active adapters
    std::vector<Ipv4Address> addresses;     // in probe order
};

// 10.0.0.0/8, 172.16.0.0/12 or 192.168.0.0/16.
bool IsPrivateAddress(Ipv4Address address);

// The own /24 pass and the network pass (at most a /16) for every usable address.
LanCandidates BuildSubnetCandidates(const std::vector<LanAdapter>& adapters);

// Moves the private neighbour addresses that are not our own to the front,
// in table order and each once, ahead of the subnet addresses.
void MoveNeighboursToFront(LanCandidates& candidates, const std::vector<Ipv4Address>& neighbourTable);

LanCandidates BuildLanCandidates(const std::vector<LanAdapter>& adapters,
                                 const std::vector<Ipv4Address>& neighbourTable);

}  // namespace orivanta
