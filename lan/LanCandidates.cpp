#include "lan/LanCandidates.h"

#include <algorithm>
#include <unordered_set>

namespace orivanta {

namespace {

// A wider network is scanned as the /16 around the address.
constexpr unsigned kWidestScannedPrefix = 16;
// /31 and /32 have no neighbours to scan.
constexpr unsigned kNarrowestScannedPrefix = 30;

bool IsUsableAdapter(const LanAdapter& adapter) {
    return adapter.operationalUp && adapter.interfaceType != kInterfaceTypeSoftwareLoopback &&
           adapter.interfaceType != kInterfaceTypeTunnel;
}

class SubnetCollector {
public:
    explicit SubnetCollector(LanCandidates& candidates) : candidates_(candidates) {}

    void AddOwnSlash24(Ipv4Address own) {
        const Ipv4Address base = own & 0xFFFFFF00u;
        for (Ipv4Address x = base + 1; x <= base + 254; ++x) {
            if (x != own) Add(x);
        }
    }

    void AddNetwork(Ipv4Address own, unsigned prefixLength) {
        const unsigned p = std::max(prefixLength, kWidestScannedPrefix);
        const Ipv4Address hostBits = (Ipv4Address{1} << (32 - p)) - 1;
        const Ipv4Address network = own & ~hostBits;
        const Ipv4Address broadcast = network | hostBits;
        const Ipv4Address own24 = own & 0xFFFFFF00u;
        for (Ipv4Address x = network + 1; x < broadcast; ++x) {
            if (candidates_.addresses.size() >= kMaxSubnetCandidates) break;
            if ((x & 0xFFFFFF00u) == own24) continue;  // the own /24 pass covered it
            Add(x);
        }
    }

private:
    void Add(Ipv4Address x) {
        if (IsPrivateAddress(x) && seen_.insert(x).second) candidates_.addresses.push_back(x);
    }

    LanCandidates& candidates_;
    std::unordered_set<Ipv4Address> seen_;
};

}  // namespace

bool IsPrivateAddress(Ipv4Address address) {
    const unsigned first = address >> 24;
    const unsigned second = (address >> 16) & 0xFFu;
    return first == 10 || (first == 172 && second >= 16 && second <= 31) || (first == 192 && second == 168);
}

LanCandidates BuildSubnetCandidates(const std::vector<LanAdapter>& adapters) {
    LanCandidates candidates;
    SubnetCollector collector(candidates);
    for (const LanAdapter& adapter : adapters) {
        if (!IsUsableAdapter(adapter)) continue;
        for (const LanUnicastAddress& unicast : adapter.ipv4Addresses) {
            if (!IsPrivateAddress(unicast.address)) continue;
            candidates.ownAddresses.push_back(unicast.address);
            if (unicast.prefixLength > kNarrowestScannedPrefix) continue;
            collector.AddOwnSlash24(unicast.address);
            collector.AddNetwork(unicast.address, unicast.prefixLength);
        }
    }
    return candidates;
}

void MoveNeighboursToFront(LanCandidates& candidates, const std::vector<Ipv4Address>& neighbourTable) {
    const std::unordered_set<Ipv4Address> own(candidates.ownAddresses.begin(), candidates.ownAddresses.end());
    std::vector<Ipv4Address> front;
    std::unordered_set<Ipv4Address> inFront;
    for (Ipv4Address neighbour : neighbourTable) {
        if (IsPrivateAddress(neighbour) && !own.contains(neighbour) && inFront.insert(neighbour).second) {
            front.push_back(neighbour);
        }
    }
    if (front.empty()) return;
    std::erase_if(candidates.addresses, [&](Ipv4Address x) { return inFront.contains(x); });
    candidates.addresses.insert(candidates.addresses.begin(), front.begin(), front.end());
}

LanCandidates BuildLanCandidates(const std::vector<LanAdapter>& adapters,
                                 const std::vector<Ipv4Address>& neighbourTable) {
    LanCandidates candidates = BuildSubnetCandidates(adapters);
    MoveNeighboursToFront(candidates, neighbourTable);
    return candidates;
}

}  // namespace orivanta
