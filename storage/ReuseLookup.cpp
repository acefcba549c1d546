#include "storage/ReuseLookup.h"

#include <windows.h>
#include <shlwapi.h>

#include <string.h>

#include "common/Handles.h"
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
    void AddFromRecord(const std::wstring& recordPath, const PackageMetadata& metadata) {
        const std::optional<PackageRecord> record = ReadPackageRecord(recordPath);
        if (record && RecordMatchesPackage(*record, metadata)) {
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

bool VerifyLocalPackage(const std::wstring& path, const PackageMetadata& metadata, const StopFlag& stop) {
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) return false;
    if (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    const std::int64_t size =
        (static_cast<std::int64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    if (size != metadata.sizeBytes) return false;
    try {
        return LowerCaseDigest(Sha256FileHex(path, stop)) == LowerCaseDigest(metadata.sha256);
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<std::wstring> ReuseCandidates(const PackageMetadata& metadata, const std::wstring& saveFolder,
                                          Edition edition, const std::wstring& dataRoot) {
    const std::wstring word = EditionFileStem(edition);
    const std::wstring downloads = DownloadsFolder(dataRoot);
    CandidateList candidates;
    candidates.AddFromRecord(downloads + L"\\" + word + L"-latest.txt", metadata);

    const std::wstring history = downloads + L"\\history";
    WIN32_FIND_DATAW entry{};
    UniqueFindHandle find(::FindFirstFileW((history + L"\\" + word + L"-*.txt").c_str(), &entry));
    if (find) {
        int read = 0;
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            candidates.AddFromRecord(history + L"\\" + entry.cFileName, metadata);
            ++read;
        } while (read < kHistoryScanLimit && ::FindNextFileW(find.get(), &entry));
        find.reset();
    }

    const std::wstring safeName = SafePackageFileName(Utf8ToUtf16(metadata.fileName));
    candidates.Add(saveFolder + L"\\" + safeName);
    if (dataRoot.empty()) {
        candidates.Add(std::wstring(kPublishFolderD) + L"\\" + safeName);
        candidates.Add(InstallerDownloaderRoot(dataRoot) + L"\\packages\\" + safeName);
    }
    return candidates.Take();
}

std::wstring FindReusablePackage(const PackageMetadata& metadata, const std::wstring& saveFolder, Edition edition,
                                 const std::wstring& dataRoot, const StopFlag& stop) {
    return FindReusablePackage(metadata, saveFolder, edition, dataRoot, stop,
                               [&stop](const std::wstring& path, const PackageMetadata& expected) {
                                   return VerifyLocalPackage(path, expected, stop);
                               });
}

std::wstring FindReusablePackage(const PackageMetadata& metadata, const std::wstring& saveFolder, Edition edition,
                                 const std::wstring& dataRoot, const StopFlag& stop, const PackageVerifier& verify) {
    for (const std::wstring& candidate : ReuseCandidates(metadata, saveFolder, edition, dataRoot)) {
        if (stop.load()) return {};
        if (verify(candidate, metadata)) return candidate;
    }
    return {};
}

std::wstring FolderOfPath(const std::wstring& path) {
    std::wstring folder = path;
    if (!::PathRemoveFileSpecW(folder.data())) return {};
    folder.resize(wcslen(folder.c_str()));
    return folder;
}

}  // namespace orivanta
