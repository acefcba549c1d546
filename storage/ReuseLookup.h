#pragma once
// The search for a verified copy of the center's current package already on
// this computer, which spares one of the device's limited downloads.

#include <functional>
#include <string>
#include <vector>

#include "center/PackageMetadata.h"
#include "common/StopFlag.h"
#include "state/Edition.h"
#include "storage/PackageRecords.h"

namespace orivanta {

inline constexpr wchar_t kFallbackPackageFileName[] = L"OrivantaInstallerPackage.exe";
inline constexpr int kHistoryScanLimit = 100;

// The last component of the center's name with control characters and
// \ / : * ? " < > | replaced by "_"; any name that is empty or does not end in
// ".exe" (any case) becomes "OrivantaInstallerPackage.exe".
std::wstring SafePackageFileName(const std::wstring& centerFileName);

// Same digest (ignoring letter case) and size; package ids are compared only when both are known.
bool RecordMatchesPackage(const PackageRecord& record, const PackageMetadata& metadata);

// The file has the package's exact size and SHA-256. Never raises: an
// unreadable file or a stop during hashing is a mismatch.
bool VerifyLocalPackage(const std::wstring& path, const PackageMetadata& metadata, const StopFlag& stop);

// Places that may hold the package, in the order they are examined and free of
// paths that differ only in letter case: the latest record, up to 100 history
// records, the save folder, and (without a diagnostic data root) D:\欧瑞凡达安装包
// and the per-user packages folder. Records are read under the data root (see
// StorageLocations.h). Records only contribute paths; nothing is verified here.
std::vector<std::wstring> ReuseCandidates(const PackageMetadata& metadata, const std::wstring& saveFolder,
                                          Edition edition, const std::wstring& dataRoot);

using PackageVerifier = std::function<bool(const std::wstring& path, const PackageMetadata& metadata)>;

// The first candidate that verifies, or empty. Stops with an empty result as
// soon as stop is seen before a candidate. Without a verifier, VerifyLocalPackage
// checks each candidate with the same stop flag.
std::wstring FindReusablePackage(const PackageMetadata& metadata, const std::wstring& saveFolder, Edition edition,
                                 const std::wstring& dataRoot, const StopFlag& stop);
std::wstring FindReusablePackage(const PackageMetadata& metadata, const std::wstring& saveFolder, Edition edition,
                                 const std::wstring& dataRoot, const StopFlag& stop, const PackageVerifier& verify);

// The folder part of a file path; empty for a bare file name.
std::wstring FolderOfPath(const std::wstring& path);

}  // namespace orivanta
