#pragma once
// The copy of a package that an installer launch starts, in a launch folder made
// for it (see LaunchFolder). Every check before a launch is made on this copy, so
// that what starts is exactly what was checked.

#include <cstdint>
#include <optional>
#include <string>

#include "common/FolderRecords.h"
#include "common/StopFlag.h"
#include "download/LaunchFolder.h"
#include "storage/HeldPackage.h"

namespace orivanta {

// Where launch folders are made (see LaunchFolderParent) and where their IDs are kept.
struct LaunchPlace {
    std::wstring parent;
    FolderRecords records = kFolderRecords;
};

class LaunchCopy {
public:
    // Removes the launch folders of earlier runs whose installer has ended, makes a
    // new one in the place and copies the held package into it under fileName
    // (installers may read their own name), hashing the bytes as they are written.
    // Raises "launch folder could not be created", or as HeldPackage::CopyTo does
    // (StopRequested when stop is seen); nothing of a failed copy stays behind.
    static LaunchCopy Make(const HeldPackage& package, const std::wstring& fileName, const LaunchPlace& place,
                           const StopFlag& stop);

    // The copy, held sharing reading only until its installer's process exists.
    const HeldPackage& Package() const { return copy_; }
    // The SHA-256 of what was written to it.
    const std::string& Sha256() const { return sha256_; }
    const std::wstring& FolderPath() const { return folder_.Path(); }
    // Leaves the copy and its folder to the installer that runs from them.
    void Release() {
        copy_.Release();
        folder_.Release();
    }

private:
    LaunchCopy(LaunchFolder folder, HeldPackage copy, std::string sha256)
        : folder_(std::move(folder)), copy_(std::move(copy)), sha256_(std::move(sha256)) {}

    // Declared first: the copy is let go before the folder is removed with it.
    LaunchFolder folder_;
    HeldPackage copy_;
    std::string sha256_;
};

// A local copy of the package verified through its launch copy: the file at path,
// held, when it has sizeBytes and its copy (left in `copy`) hashes to sha256. One
// pass over the file gives the digest of both. A file that is missing, locked, no
// plain file, of another size or unreadable is no match, and neither is one whose
// copy differs; `copy` is then empty. A copy that cannot be made raises as Make does.
std::optional<HeldPackage> VerifyByLaunchCopy(const std::wstring& path, std::int64_t sizeBytes,
                                              const std::string& sha256, const LaunchPlace& place,
                                              const StopFlag& stop, std::optional<LaunchCopy>& copy);

}  // namespace orivanta
