#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "storage/HeldPackage.h"
#include "workflow/TransferRetries.h"

namespace orivanta {

// Free bytes available to the caller on the volume that holds a folder; false when unknown.
using FreeSpaceProbe = std::function<bool(const std::wstring& folder, std::uint64_t& freeBytes)>;
// The system's answer for a folder's volume.
bool QueryFreeBytes(const std::wstring& folder, std::uint64_t& freeBytes);

// Starts the verified package, held since its hashing, whose digest is expectedSha256;
// true when a process was created. The launcher ends the hold (see LaunchInstaller).
using InstallerLauncher = std::function<bool(HeldPackage package, const std::string& expectedSha256)>;

// Checks the publisher's signature of the held package after its digest, before a
// fresh download is published and before a local copy's reuse is reported.
using PublisherCheck = std::function<SignatureCheck(const HeldPackage& package)>;

// Thread body of one download request: identity, prepare, reuse or start,
// transfer, verification, publication, folder and launch. Reports only through
// the shared state, the run diagnostics and exactly one worker-done message.
void RunDownloadWorker();
void RunDownloadWorker(const FreeSpaceProbe& freeSpace);
void RunDownloadWorker(const FreeSpaceProbe& freeSpace, const InstallerLauncher& launch);
void RunDownloadWorker(const FreeSpaceProbe& freeSpace, const InstallerLauncher& launch,
                       const PublisherCheck& checkPublisher);
void RunDownloadWorker(const FreeSpaceProbe& freeSpace, const InstallerLauncher& launch,
                       const PublisherCheck& checkPublisher, const RetryClock& retryClock);

}  // namespace orivanta
