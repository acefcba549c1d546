#pragma once
// The LAN discovery thread: looks once for a clinic host on port 9009 and
// recommends the client-only edition when one answers.

#include <string>
#include <vector>

#include "lan/LanCandidates.h"
#include "lan/LanProbe.h"

namespace orivanta {

// Thread body: adapters and neighbours, probe, publish, notify the window. Raises nothing.
void DiscoverLanHost();

// The IPv4 view of the adapters; empty when the query fails.
std::vector<LanAdapter> ReadLanAdapters();
// Neighbour-table addresses in table order, entries of every type; empty when the query fails.
std::vector<Ipv4Address> ReadNeighbourTable();

// "多主机安装请联系 " and the support hotline: what a second clinic host needs.
std::wstring MultiHostHelpText();

// Writes the result into AppState under stateMutex, then posts a refresh when the window exists.
// A host found while a server download runs pauses that download (keeping its
// files) and leaves the edition to WithdrawServerEditionIfHostFound.
void PublishLanResult(const LanProbeResult& result);

// For the window once a worker has ended: withdraws the server edition when a
// host has been found meanwhile. Does nothing while busy.
void WithdrawServerEditionIfHostFound();

}  // namespace orivanta
