// Runs the LAN discovery once, as the program's LAN thread does, and prints
// what it published, one key=value line each (UTF-8), plus its duration and
// the private neighbour-table addresses it read.
// Options: --edition=N (preselected edition), --user-chose, --busy.

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/Utf.h"
#include "lan/LanDiscovery.h"
#include "state/AppState.h"

namespace {

void WriteLine(const std::string& key, const std::string& value) {
    const std::string line = key + "=" + value + "\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace orivanta;
    AppState& app = App();
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--edition=", 10) == 0) app.edition = static_cast<Edition>(std::atoi(argv[i] + 10));
        if (std::strcmp(argv[i], "--user-chose") == 0) app.userChoseEdition = true;
        if (std::strcmp(argv[i], "--busy") == 0) app.busy = true;
    }
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return 3;

    const auto started = std::chrono::steady_clock::now();
    DiscoverLanHost();
    const auto elapsed = std::chrono::steady_clock::now() - started;

    const DisplaySnapshot snapshot = ReadDisplaySnapshot();
    WriteLine("lanState", std::to_string(static_cast<int>(snapshot.lanState)));
    WriteLine("lanHostText", Utf16ToUtf8(snapshot.lanHostText));
    WriteLine("edition", std::to_string(static_cast<int>(snapshot.edition)));
    WriteLine("userChoseEdition", app.userChoseEdition ? "1" : "0");
    WriteLine("statusText", Utf16ToUtf8(snapshot.statusText));
    WriteLine("detailText", Utf16ToUtf8(snapshot.detailText));
    std::string neighbours;
    for (Ipv4Address address : ReadNeighbourTable()) {
        if (!IsPrivateAddress(address)) continue;
        if (!neighbours.empty()) neighbours += ",";
        neighbours += std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
                      std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
    }
    WriteLine("neighbourTable", neighbours);
    WriteLine("elapsedMs",
              std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
    ::WSACleanup();
    return 0;
}
