#include "lan/LanDiscovery.h"

#include "common/Handles.h"

#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <mutex>

#include "common/SupportHotline.h"
#include "state/AppState.h"
#include "state/Edition.h"

namespace orivanta {

namespace {

constexpr ULONG kAdapterFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
constexpr ULONG kInitialAdapterBufferBytes = 16 * 1024;

LanAdapter ToLanAdapter(const IP_ADAPTER_ADDRESSES& source) {
    LanAdapter adapter;
    adapter.operationalUp = source.OperStatus == IfOperStatusUp;
    adapter.interfaceType = source.IfType;
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = source.FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
        const sockaddr* address = unicast->Address.lpSockaddr;
        if (address == nullptr || address->sa_family != AF_INET) continue;
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
        adapter.ipv4Addresses.push_back({::ntohl(ipv4->sin_addr.s_addr), unicast->OnLinkPrefixLength});
    }
    return adapter;
}

// Under stateMutex: a second clinic host needs customer service.
void ShowServerEditionNeedsHelp(AppState& app) {
    app.statusText = L"已发现现有主机，服务端版需要客服协助";
    app.detailText = MultiHostHelpText();
}

void WithdrawServerEditionLocked(AppState& app) {
    app.edition = Edition::None;
    app.userChoseEdition = false;
    ShowServerEditionNeedsHelp(app);
}

}  // namespace

std::vector<LanAdapter> ReadLanAdapters() {
    ULONG size = kInitialAdapterBufferBytes;
    // 8-byte elements keep the adapter records aligned.
    std::vector<ULONGLONG> buffer((size + 7) / 8);
    ULONG status = ::GetAdaptersAddresses(AF_INET, kAdapterFlags, nullptr,
                                          reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    if (status == ERROR_BUFFER_OVERFLOW) {
        buffer.assign((size + 7) / 8, 0);
        status = ::GetAdaptersAddresses(AF_INET, kAdapterFlags, nullptr,
                                        reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    std::vector<LanAdapter> adapters;
    if (status != NO_ERROR) return adapters;
    for (const auto* source = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); source != nullptr;
         source = source->Next) {
        adapters.push_back(ToLanAdapter(*source));
    }
    return adapters;
}

std::vector<Ipv4Address> ReadNeighbourTable() {
    std::vector<Ipv4Address> neighbours;
    ULONG size = 0;
    if (::GetIpNetTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER) return neighbours;
    UniqueHeapMemory memory(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (!memory) return neighbours;
    auto* table = static_cast<MIB_IPNETTABLE*>(memory.get());
    if (::GetIpNetTable(table, &size, FALSE) != NO_ERROR) return neighbours;
    neighbours.reserve(table->dwNumEntries);
    for (DWORD i = 0; i < table->dwNumEntries; ++i) neighbours.push_back(::ntohl(table->table[i].dwAddr));
    return neighbours;
}

std::wstring MultiHostHelpText() { return L"多主机安装请联系 " + SupportHotlineText(); }

void PublishLanResult(const LanProbeResult& result) {
    AppState& app = App();
    {
        std::lock_guard<std::mutex> lock(app.stateMutex);
        if (!result.found) {
            app.lanState = LanState::NoHost;
        } else {
            app.lanState = LanState::HostFound;
            app.lanHostText = result.hostText;
            if (app.edition == Edition::Server && app.busy) {
                // The running server download is paused, not orphaned: the edition
                // stays until the worker has ended, so the main button can still
                // pause it, and the window withdraws it then.
                app.cancelRequested = true;
                ShowServerEditionNeedsHelp(app);
            } else if (app.edition == Edition::Server) {
                WithdrawServerEditionLocked(app);
            } else if (!app.userChoseEdition && !app.busy) {
                app.edition = Edition::Client;
                app.statusText = L"已根据局域网检测推荐仅客户端版";
                app.detailText = L"仅客户端版 · 已发现主机 " + result.hostText + L":9009";
            }
        }
    }
    PostRefresh();
}

void WithdrawServerEditionIfHostFound() {
    AppState& app = App();
    std::lock_guard<std::mutex> lock(app.stateMutex);
    if (!app.busy && app.lanState == LanState::HostFound && app.edition == Edition::Server) {
        WithdrawServerEditionLocked(app);
    }
}

void DiscoverLanHost() {
    LanProbeResult result;
    try {
        const LanCandidates candidates = BuildLanCandidates(ReadLanAdapters(), ReadNeighbourTable());
        result = ProbeHosts(candidates.addresses, App().windowClosing);
    } catch (...) {
        // Only memory can run out here; the search then simply found nothing.
        result = {};
    }
    PublishLanResult(result);
}

}  // namespace orivanta
