#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "download/LaunchCopy.h"
#include "identity/PublisherSignature.h"
#include "storage/HeldPackage.h"
#include "workflow/TransferRetries.h"

namespace orivanta {

// Free bytes available to the caller on the volume that holds a folder; false when unknown.
using FreeSpaceProbe = std::function<bool(const std::wstring& folder, std::uint64_t& freeBytes)>;
// The system's answer for a folder's volume.
bool QueryFreeBytes(const std::wstring& folder, std::uint64_t& freeBytes);

// Starts the checked copy of the package (see LaunchInstaller); true when a
// process was created. The launcher ends the holds.
using InstallerLauncher = std::function<bool(LaunchCopy copy)>;

// Checks the publisher's signature of the package's launch copy, after its digest,
// before a fresh download is published and before a local copy's reuse is reported.
using PublisherCheck = std::function<SignatureCheck(const HeldPackage& copy)>;

// Thread body of one download request: identity, prepare, reuse or start,
// transfer, verification, publication, folder and launch. Reports only through
// the shared state, the run diagnostics and exactly one worker-done message.
void RunDownloadWorker();
void RunDownloadWorker(const FreeSpaceProbe& freeSpace, const InstallerLauncher& launch,
                       const PublisherCheck& checkPublisher);
void RunDownloadWorker(const FreeSpaceProbe& freeSpace, const InstallerLauncher& launch,
                       const PublisherCheck& checkPublisher, const RetryClock& retryClock);

}  // namespace orivanta
