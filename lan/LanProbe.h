#pragma once
// Non-blocking TCP connects, 400 at a time, to find a computer that accepts
// connections on the clinic host's port.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/StopFlag.h"
#include "lan/LanCandidates.h"

namespace orivanta {

constexpr std::uint16_t kLanProbePort = 9009;
constexpr std::size_t kProbeBatchSize = 400;
constexpr long kProbeWaitMicroseconds = 250000;

struct LanProbeResult {
    bool found = false;
    std::wstring hostText;  // dotted decimal, when found
};

// Probes the candidates in list order and stops at the first that accepts.
// Polls stop between connects, between batches and while waiting.
LanProbeResult ProbeHosts(const std::vector<Ipv4Address>& candidates, const StopFlag& stop,
                          std::uint16_t port = kLanProbePort);

}  // namespace orivanta
