#pragma once
// Plain key=value records of published packages: one latest record per
// edition and one history file per publication, read back by the reuse lookup.

#include <cstdint>
#include <optional>
#include <string>

#include "center/PackageMetadata.h"
#include "common/HeldFolders.h"
#include "state/Edition.h"

namespace orivanta {

struct PackageRecord {
    std::string packageId;  // UTF-8, as in PackageMetadata
    std::string versionName;
    std::string fileName;
    std::string sha256;
    std::int64_t sizeBytes = 0;
    std::wstring localPath;
    std::wstring source;
    std::wstring recordedAtUtc;
};

inline constexpr wchar_t kSourceDownloaded[] = L"downloaded-from-center-authorized-url";
inline constexpr wchar_t kSourceReused[] = L"existing-file-reused";

// MachineFolder(dataRoot) + "\downloads" (not created here).
std::wstring DownloadsFolder(const std::wstring& dataRoot);

// The machine folder (EstablishMachineFolder) with DownloadsFolder and its
// "history" below, held as they are while this is kept (HeldFolders).
HeldFolders HoldRecordFolders(const std::wstring& dataRoot);

// TAB, LF and CR become blanks and the text is cut to 1,024 UTF-16 units, so
// that no value can break the one-pair-per-line format.
std::wstring SingleLineValue(const std::wstring& text);

// The record text, CR LF after every line, stamped with the current UTC time.
// The edition is the worker's snapshot: the LAN thread may change the shared
// edition while a download runs, and the record must name the package's own.
std::wstring SerializePackageRecord(const PackageMetadata& metadata, const std::wstring& localPath,
                                    const std::wstring& source, Edition edition);

// Writes the record as <edition>-latest.txt and as a new history\<edition>-<GUID>.txt
// under DownloadsFolder(dataRoot), with identical bytes, its folders held
// meanwhile (HoldRecordFolders). Raises what the holds raise, "download record
// could not be persisted", "GUID creation failed" or "download history could
// not be persisted".
void SaveDownloadRecord(const PackageMetadata& metadata, const std::wstring& localPath,
                        const std::wstring& source, Edition edition, const std::wstring& dataRoot);

// The rest of the first line that begins with key + "=" (LF or CR LF lines); empty when none.
std::wstring ReadRecordValue(const std::wstring& text, const std::wstring& key);

// The record of a file when it is readable and valid: sha256 of 64 hexadecimal
// digits, sizeBytes above 0 and a local path. Never raises.
std::optional<PackageRecord> ReadPackageRecord(const std::wstring& path);

}  // namespace orivanta
