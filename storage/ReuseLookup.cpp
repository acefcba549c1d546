#include "storage/ReuseLookup.h"

#include <windows.h>
#include <shlwapi.h>

#include <string.h>

#include "common/Handles.h"
#include "common/PathChecks.h"
#include "common/Utf.h"
#include "identity/Sha256.h"
#include "storage/StorageLocations.h"
#include "state/Edition.h"

namespace orivanta {
namespace {

bool IsUnsafeFileNameCharacter(wchar_t c) {
    return c < 0x20 || wcschr(L"\\/:*?\"<>|", c) != nullptr;
}

class CandidateList {
public:
    void Add(const std::wstring& path) {
        for (const std::wstring& known : paths_) {
            if (_wcsicmp(known.c_str(), path.c_str()) == 0) return;
        }
        paths_.push_back(path);
    }
    void AddFromRecord(const std::wstring& recordPath, const PackageMetadata& metadata,
                       const std::vector<std::wstring>& folders) {
        const std::optional<PackageRecord> record = ReadPackageRecord(recordPath);
        if (record && RecordMatchesPackage(*record, metadata) && IsReuseCandidatePath(record->localPath, folders)) {
            Add(record->localPath);
        }
    }
    std::vector<std::wstring> Take() { return std::move(paths_); }

private:
    std::vector<std::wstring> paths_;
};

}  // namespace

std::wstring SafePackageFileName(const std::wstring& centerFileName) {
    std::wstring name = ::PathFindFileNameW(centerFileName.c_str());
    for (wchar_t& c : name) {
        if (IsUnsafeFileNameCharacter(c)) c = L'_';
    }
    if (name.empty() || _wcsicmp(::PathFindExtensionW(name.c_str()), L".exe") != 0) {
        return kFallbackPackageFileName;
    }
    return name;
}

bool RecordMatchesPackage(const PackageRecord& record, const PackageMetadata& metadata) {
    if (LowerCaseDigest(record.sha256) != LowerCaseDigest(metadata.sha256)) return false;
    if (record.sizeBytes != metadata.sizeBytes) return false;
    if (!record.packageId.empty() && !metadata.packageId.empty() && record.packageId != metadata.packageId) {
        return false;
    }
    return true;
}

std::optional<HeldPackage> VerifyLocalPackage(const std::wstring& path, const PackageMetadata& metadata,
                                              const StopFlag& stop) {
    try {
        HeldPackage package = HeldPackage::Open(path, HeldPackage::Access::Read);
        if (package.Size() != metadata.sizeBytes) return std::nullopt;
        if (LowerCaseDigest(package.Sha256Hex(stop)) != LowerCaseDigest(metadata.sha256)) return std::nullopt;
        return package;
    } catch (const StopRequested&) {
        throw;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::vector<std::wstring> ReuseFolders(const std::wstring& saveFolder, const std::wstring& dataRoot) {
    if (!dataRoot.empty()) return {saveFolder};
    return {saveFolder, InstallerDownloaderRoot(dataRoot) + L"\\packages"};
}

bool IsReuseCandidatePath(const std::wstring& path, const std::vector<std::wstring>& folders) {
    if (!IsPlainDrivePath(path)) return false;
    const std::wstring name = ::PathFindFileNameW(path.c_str());
    if (SafePackageFileName(name) != name) return false;
    for (const std::wstring& folder : folders) {
        if (LiesDirectlyIn(path, folder)) return true;
    }
    return false;
}

std::vector<std::wstring> ReuseCandidates(const PackageMetadata& metadata, const std::wstring& saveFolder,
                                          Edition edition, const std::wstring& dataRoot) {
    const std::vector<std::wstring> folders = ReuseFolders(saveFolder, dataRoot);
    const std::wstring word = EditionFileStem(edition);
    const std::wstring downloads = DownloadsFolder(dataRoot);
    CandidateList candidates;
    candidates.AddFromRecord(downloads + L"\\" + word + L"-latest.txt", metadata, folders);

    const std::wstring history = downloads + L"\\history";
    WIN32_FIND_DATAW entry{};
    UniqueFindHandle find(::FindFirstFileW((history + L"\\" + word + L"-*.txt").c_str(), &entry));
    if (find) {
        int read = 0;
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            candidates.AddFromRecord(history + L"\\" + entry.cFileName, metadata, folders);
            ++read;
        } while (read < kHistoryScanLimit && ::FindNextFileW(find.get(), &entry));
        find.reset();
    }

    const std::wstring safeName = SafePackageFileName(Utf8ToUtf16(metadata.fileName));
    for (const std::wstring& folder : folders) candidates.Add(folder + L"\\" + safeName);
    return candidates.Take();
}

std::optional<HeldPackage> FindReusablePackage(const PackageMetadata& metadata, const std::wstring& saveFolder,
                                               Edition edition, const std::wstring& dataRoot, const StopFlag& stop) {
    return FindReusablePackage(metadata, saveFolder, edition, dataRoot, stop,
                               [&stop](const std::wstring& path, const PackageMetadata& expected) {
                                   return VerifyLocalPackage(path, expected, stop);
                               });
}

std::optional<HeldPackage> FindReusablePackage(const PackageMetadata& metadata, const std::wstring& saveFolder,
                                               Edition edition, const std::wstring& dataRoot, const StopFlag& stop,
                                               const PackageVerifier& verify) {
    for (const std::wstring& candidate : ReuseCandidates(metadata, saveFolder, edition, dataRoot)) {
        if (stop.load()) throw StopRequested();
        // A network drive could serve other bytes to the launch than to the hash; a
        // link could lead anywhere.
        if (!IsOnLocalFixedDrive(candidate) || !ExistsWithoutReparsePoint(candidate)) continue;
        if (std::optional<HeldPackage> package = verify(candidate, metadata)) return package;
    }
    return std::nullopt;
}

std::wstring FolderOfPath(const std::wstring& path) {
    std::wstring folder = path;
    if (!::PathRemoveFileSpecW(folder.data())) return {};
    folder.resize(wcslen(folder.c_str()));
    return folder;
}

}  // namespace orivanta
