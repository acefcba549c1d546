#pragma once
// The search for a verified copy of the center's current package already on
// this computer, which spares one of the device's limited downloads.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "center/PackageMetadata.h"
#include "common/StopFlag.h"
#include "state/Edition.h"
#include "storage/HeldPackage.h"
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

// The file at path, held (see HeldPackage.h), when it has the package's exact size
// and SHA-256; empty when it is missing, not a plain file, unreadable, locked or
// different. Raises StopRequested when stop is seen during the hashing.
std::optional<HeldPackage> VerifyLocalPackage(const std::wstring& path, const PackageMetadata& metadata,
                                              const StopFlag& stop);

// The folders whose files may be reused: the save folder and, without a
// diagnostic data root, the per-user packages folder. D:\欧瑞凡达安装包 counts
// only as the save folder: only then has this run checked its protection, and an
// installer started from a folder that others may write would load their DLLs.
std::vector<std::wstring> ReuseFolders(const std::wstring& saveFolder, const std::wstring& dataRoot);

// A path from a record may be examined only when it names a package file
// (SafePackageFileName keeps its name) directly inside one of the folders, as a
// plain drive path: never a server's, never out by "..", never below.
bool IsReuseCandidatePath(const std::wstring& path, const std::vector<std::wstring>& folders);

// Places that may hold the package, in the order they are examined and free of
// paths that differ only in letter case: the latest record, up to 100 history
// records, then the package's name in each of ReuseFolders. Records are read
// under the data root (see StorageLocations.h) and contribute only paths that
// IsReuseCandidatePath accepts; nothing is opened or verified here.
std::vector<std::wstring> ReuseCandidates(const PackageMetadata& metadata, const std::wstring& saveFolder,
                                          Edition edition, const std::wstring& dataRoot);

using PackageVerifier =
    std::function<std::optional<HeldPackage>(const std::wstring& path, const PackageMetadata& metadata)>;

// The first candidate that verifies, held, or empty. A candidate is opened only on
// a local fixed drive with no reparse point on its way. Raises StopRequested as
// soon as stop is seen before a candidate or while one is hashed. Without a
// verifier, VerifyLocalPackage checks each candidate with the same stop flag.
std::optional<HeldPackage> FindReusablePackage(const PackageMetadata& metadata, const std::wstring& saveFolder,
                                               Edition edition, const std::wstring& dataRoot, const StopFlag& stop);
std::optional<HeldPackage> FindReusablePackage(const PackageMetadata& metadata, const std::wstring& saveFolder,
                                               Edition edition, const std::wstring& dataRoot, const StopFlag& stop,
                                               const PackageVerifier& verify);

// The folder part of a file path; empty for a bare file name.
std::wstring FolderOfPath(const std::wstring& path);

}  // namespace orivanta
