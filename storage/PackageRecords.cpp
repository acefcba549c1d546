#include "storage/PackageRecords.h"

#include <stdexcept>
#include <stdlib.h>

#include "common/AtomicFile.h"
#include "common/GuidText.h"
#include "common/SmallTextFile.h"
#include "common/Timestamp.h"
#include "common/Utf.h"
#include "identity/DeviceIdentity.h"
#include "identity/Sha256.h"
#include "state/Edition.h"

namespace orivanta {
namespace {

constexpr size_t kMaxRecordValueUnits = 1024;

std::wstring SingleLineUtf8(const std::string& text) { return SingleLineValue(Utf8ToUtf16(text)); }

}  // namespace

std::wstring DownloadsFolder(const std::wstring& dataRoot) { return MachineFolder(dataRoot) + L"\\downloads"; }

HeldFolders HoldRecordFolders(const std::wstring& dataRoot) {
    HeldFolders held = EstablishMachineFolder(dataRoot);
    held.HoldBelow(MachineFolder(dataRoot), L"downloads\\history");
    return held;
}

std::wstring SingleLineValue(const std::wstring& text) {
    std::wstring value = text.substr(0, kMaxRecordValueUnits);
    for (wchar_t& c : value) {
        if (c == L'\t' || c == L'\n' || c == L'\r') c = L' ';
    }
    return value;
}

std::wstring SerializePackageRecord(const PackageMetadata& metadata, const std::wstring& localPath,
                                    const std::wstring& source, Edition edition) {
    const std::wstring recordedAt = UtcTimestamp();
    std::wstring text;
    const auto line = [&text](const wchar_t* key, const std::wstring& value) {
        text += key;
        text += L'=';
        text += value;
        text += L"\r\n";
    };
    text += L"schema=1\r\n";
    line(L"packageType", EditionFileStem(edition));
    line(L"packageId", SingleLineUtf8(metadata.packageId));
    line(L"versionName", SingleLineUtf8(metadata.versionName));
    line(L"fileName", SingleLineUtf8(metadata.fileName));
    line(L"sizeBytes", std::to_wstring(metadata.sizeBytes));
    line(L"sha256", SingleLineUtf8(metadata.sha256));
    line(L"localPath", SingleLineValue(localPath));
    line(L"source", SingleLineValue(source));
    line(L"recordedAtUtc", recordedAt);
    return text;
}

void SaveDownloadRecord(const PackageMetadata& metadata, const std::wstring& localPath,
                        const std::wstring& source, Edition edition, const std::wstring& dataRoot) {
    const HeldFolders folders = HoldRecordFolders(dataRoot);
    const std::wstring downloads = DownloadsFolder(dataRoot);
    const std::wstring history = downloads + L"\\history";

    const std::wstring word = EditionFileStem(edition);
    const std::wstring text = SerializePackageRecord(metadata, localPath, source, edition);
    if (!WriteFileAtomically(downloads + L"\\" + word + L"-latest.txt", text)) {
        throw std::runtime_error("download record could not be persisted");
    }
    if (!WriteFileAtomically(history + L"\\" + word + L"-" + NewGuidText() + L".txt", text)) {
        throw std::runtime_error("download history could not be persisted");
    }
}

std::wstring ReadRecordValue(const std::wstring& text, const std::wstring& key) {
    const std::wstring prefix = key + L"=";
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
        start = end + 1;
    }
    return {};
}

std::optional<PackageRecord> ReadPackageRecord(const std::wstring& path) {
    const std::wstring text = ReadSmallTextFile(path);
    if (text.empty()) return std::nullopt;

    PackageRecord record;
    record.packageId = Utf16ToUtf8(ReadRecordValue(text, L"packageId"));
    record.versionName = Utf16ToUtf8(ReadRecordValue(text, L"versionName"));
    record.fileName = Utf16ToUtf8(ReadRecordValue(text, L"fileName"));
    record.sha256 = Utf16ToUtf8(ReadRecordValue(text, L"sha256"));
    record.sizeBytes = ::_wtoi64(ReadRecordValue(text, L"sizeBytes").c_str());
    record.localPath = ReadRecordValue(text, L"localPath");
    record.source = ReadRecordValue(text, L"source");
    record.recordedAtUtc = ReadRecordValue(text, L"recordedAtUtc");

    if (!IsDigestText(record.sha256) || record.sizeBytes <= 0 || record.localPath.empty()) return std::nullopt;
    return record;
}

}  // namespace orivanta
