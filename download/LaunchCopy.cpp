#include "download/LaunchCopy.h"

#include <shlwapi.h>

#include <exception>

#include "identity/Sha256.h"

namespace orivanta {

LaunchCopy LaunchCopy::Make(const HeldPackage& package, const std::wstring& fileName, const LaunchPlace& place,
                            const StopFlag& stop) {
    RemoveFinishedLaunchFolders(place.parent, place.records);
    LaunchFolder folder = LaunchFolder::Create(place.parent, RandomLaunchFolderName, place.records);
    std::string sha256;
    HeldPackage copy = package.CopyTo(folder.Path() + L"\\" + fileName, sha256, stop);
    return LaunchCopy(std::move(folder), std::move(copy), std::move(sha256));
}

std::optional<HeldPackage> VerifyByLaunchCopy(const std::wstring& path, std::int64_t sizeBytes,
                                              const std::string& sha256, const LaunchPlace& place,
                                              const StopFlag& stop, std::optional<LaunchCopy>& copy) {
    copy.reset();
    std::optional<HeldPackage> package;
    try {
        package = HeldPackage::Open(path, HeldPackage::Access::Read);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (package->Size() != sizeBytes) return std::nullopt;
    try {
        copy = LaunchCopy::Make(*package, ::PathFindFileNameW(path.c_str()), place, stop);
    } catch (const HashReadFailed&) {
        return std::nullopt;  // a candidate that cannot be read through is no match, as one that cannot be opened
    }
    if (copy->Sha256() == LowerCaseDigest(sha256)) return package;
    copy.reset();
    return std::nullopt;
}

}  // namespace orivanta
