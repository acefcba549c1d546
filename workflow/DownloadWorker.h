#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace orivanta {

// Free bytes available to the caller on the volume that holds a folder; false when unknown.
using FreeSpaceProbe = std::function<bool(const std::wstring& folder, std::uint64_t& freeBytes)>;

// Thread body of one download request: identity, prepare, reuse or start,
// transfer, verification, publication, folder and launch. Reports only through
// the shared state, the run diagnostics and exactly one worker-done message.
void RunDownloadWorker();
void RunDownloadWorker(const FreeSpaceProbe& freeSpace);

}  // namespace orivanta
