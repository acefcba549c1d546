#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <stdexcept>

#include "DataRootFixture.h"
#include "common/Utf.h"
#include "identity/DeviceIdentity.h"
#include "storage/PackageRecords.h"
#include "state/Edition.h"

namespace orivanta {
namespace {

using test::CountFilesMatching;
using test::DataRootTest;
using test::FileNames;
using test::FileExists;
using test::ReadBytes;
using test::WriteBytes;

const std::string kDigest = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";

PackageMetadata SampleMetadata() {
    PackageMetadata metadata;
    metadata.packageId = "pkg-2027.1";
    metadata.versionName = "2027.1 正式版";
    metadata.fileName = "OrivantaSetup.exe";
    metadata.sha256 = kDigest;
    metadata.sizeBytes = 123456789012;
    return metadata;
}

std::string RecordText(const std::string& sha256, const std::string& sizeBytes, const std::string& localPath,
                       const std::string& packageId = "pkg") {
    std::string text = "schema=1\r\npackageType=server\r\n";
    if (!packageId.empty()) text += "packageId=" + packageId + "\r\n";
    text += "versionName=v\r\nfileName=f.exe\r\nsizeBytes=" + sizeBytes + "\r\nsha256=" + sha256 + "\r\n";
    if (!localPath.empty()) text += "localPath=" + localPath + "\r\n";
    return text + "source=existing-file-reused\r\nrecordedAtUtc=2027-01-03T09:05:07.004Z\r\n";
}

TEST(SingleLine, BlanksOutLineBreaksAndTabsAndCutsLongValues) {
    EXPECT_EQ(SingleLineValue(L"a\tb\r\nc"), L"a b  c");
    EXPECT_EQ(SingleLineValue(std::wstring(1024, L'x')), std::wstring(1024, L'x'));
    EXPECT_EQ(SingleLineValue(std::wstring(1500, L'x') + L"\n"), std::wstring(1024, L'x'));
    EXPECT_EQ(SingleLineValue(L""), L"");
}

TEST(RecordSerialization, WritesTheTenLinesInOrder) {
    PackageMetadata metadata = SampleMetadata();
    metadata.versionName.clear();
    const std::wstring text =
        SerializePackageRecord(metadata, L"D:\\欧瑞凡达安装包\\OrivantaSetup.exe", kSourceDownloaded, Edition::Server);
    const std::wregex expected(
        L"schema=1\r\npackageType=server\r\npackageId=pkg-2027\\.1\r\nversionName=\r\n"
        L"fileName=OrivantaSetup\\.exe\r\nsizeBytes=123456789012\r\nsha256=" + Utf8ToUtf16(kDigest) +
        L"\r\nlocalPath=D:\\\\欧瑞凡达安装包\\\\OrivantaSetup\\.exe\r\n"
        L"source=downloaded-from-center-authorized-url\r\n"
        L"recordedAtUtc=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z\r\n");
    EXPECT_TRUE(std::regex_match(text, expected)) << Utf16ToUtf8(text);

    EXPECT_NE(SerializePackageRecord(metadata, L"x", kSourceReused, Edition::Client).find(L"\r\npackageType=client\r\n"),
              std::wstring::npos);
    EXPECT_NE(SerializePackageRecord(metadata, L"x", kSourceReused, Edition::None).find(L"\r\npackageType=client\r\n"),
              std::wstring::npos)
        << "every edition other than the server is written as client";
}

using RecordFiles = DataRootTest;

TEST_F(RecordFiles, RoundTripFlattensLineBreaksAndCutsOverlongValues) {
    PackageMetadata metadata = SampleMetadata();
    metadata.packageId = "id\twith\ttabs";
    metadata.versionName = "line one\r\nline two";
    metadata.fileName = std::string(1100, 'n') + ".exe";
    const std::wstring localPath = L"C:\\安装包\\a\nb.exe";
    SaveDownloadRecord(metadata, localPath, kSourceReused, Edition::Client, dataRoot_);

    const std::wstring downloads = DownloadsFolder(dataRoot_);
    EXPECT_EQ(downloads, MachineFolder(dataRoot_) + L"\\downloads");
    const std::wstring latest = downloads + L"\\client-latest.txt";
    ASSERT_TRUE(FileExists(latest));
    EXPECT_FALSE(FileExists(downloads + L"\\server-latest.txt"));

    const std::optional<PackageRecord> record = ReadPackageRecord(latest);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->packageId, "id with tabs");
    EXPECT_EQ(record->versionName, "line one  line two");
    EXPECT_EQ(record->fileName, std::string(1024, 'n'));
    EXPECT_EQ(record->sha256, kDigest);
    EXPECT_EQ(record->sizeBytes, 123456789012);
    EXPECT_EQ(record->localPath, L"C:\\安装包\\a b.exe");
    EXPECT_EQ(record->source, L"existing-file-reused");
    EXPECT_EQ(record->recordedAtUtc.size(), 24u);
}

TEST_F(RecordFiles, LatestAndHistoryFilesAreByteIdentical) {
    SaveDownloadRecord(SampleMetadata(), L"C:\\p\\OrivantaSetup.exe", kSourceDownloaded, Edition::Server, dataRoot_);
    const std::wstring history = DownloadsFolder(dataRoot_) + L"\\history";
    ASSERT_EQ(CountFilesMatching(history, L"*"), 1);
    const std::vector<std::wstring> names = FileNames(history, L"server-*.txt");
    ASSERT_EQ(names.size(), 1u);
    const std::wstring name = names.front();
    EXPECT_TRUE(std::regex_match(name, std::wregex(L"server-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.txt")))
        << Utf16ToUtf8(name);

    const std::string latestBytes = ReadBytes(DownloadsFolder(dataRoot_) + L"\\server-latest.txt");
    EXPECT_EQ(ReadBytes(history + L"\\" + name), latestBytes);
    EXPECT_EQ(latestBytes.rfind("schema=1\r\npackageType=server\r\n", 0), 0u) << "no byte-order mark";

    SaveDownloadRecord(SampleMetadata(), L"C:\\q\\OrivantaSetup.exe", kSourceDownloaded, Edition::Server, dataRoot_);
    EXPECT_EQ(CountFilesMatching(history, L"server-*.txt"), 2) << "history files accumulate";
    EXPECT_EQ(ReadPackageRecord(DownloadsFolder(dataRoot_) + L"\\server-latest.txt")->localPath,
              L"C:\\q\\OrivantaSetup.exe")
        << "the latest record is replaced";
    EXPECT_EQ(CountFilesMatching(DownloadsFolder(dataRoot_), L"*.tmp") + CountFilesMatching(history, L"*.tmp"), 0);
}

std::string SaveFailure(Edition edition, const std::wstring& dataRoot) {
    try {
        SaveDownloadRecord(SampleMetadata(), L"C:\\p.exe", kSourceDownloaded, edition, dataRoot);
    } catch (const std::runtime_error& failure) {
        return failure.what();
    }
    return "no failure raised";
}

// Every folder is there before anything is written.
TEST_F(RecordFiles, FileWhereAFolderBelongsRaisesBeforeAnyRecord) {
    ::CreateDirectoryW(MachineFolder(dataRoot_).c_str(), nullptr);
    WriteBytes(DownloadsFolder(dataRoot_), "not a folder");
    EXPECT_EQ(SaveFailure(Edition::Server, dataRoot_), "create directory failed");
    ::DeleteFileW(DownloadsFolder(dataRoot_).c_str());
    ::CreateDirectoryW(DownloadsFolder(dataRoot_).c_str(), nullptr);
    WriteBytes(DownloadsFolder(dataRoot_) + L"\\history", "not a folder");
    EXPECT_EQ(SaveFailure(Edition::Client, dataRoot_), "create directory failed");
    EXPECT_FALSE(FileExists(DownloadsFolder(dataRoot_) + L"\\client-latest.txt"));
}

TEST_F(RecordFiles, UnwritableLatestRecordRaisesAndSkipsTheHistory) {
    ::CreateDirectoryW(MachineFolder(dataRoot_).c_str(), nullptr);
    ::CreateDirectoryW(DownloadsFolder(dataRoot_).c_str(), nullptr);
    ::CreateDirectoryW((DownloadsFolder(dataRoot_) + L"\\server-latest.txt").c_str(), nullptr);
    EXPECT_EQ(SaveFailure(Edition::Server, dataRoot_), "download record could not be persisted");
    EXPECT_EQ(CountFilesMatching(DownloadsFolder(dataRoot_) + L"\\history", L"*"), 0);
}

TEST(RecordValue, FirstLineThatBeginsWithTheExactKeyWins) {
    const std::wstring text = L" sha256=indented\r\nSha256=case\r\nsha256=first=with=equals\r\nsha256=second\r\n";
    EXPECT_EQ(ReadRecordValue(text, L"sha256"), L"first=with=equals");
    EXPECT_EQ(ReadRecordValue(text, L"Sha256"), L"case");
    EXPECT_EQ(ReadRecordValue(text, L"SHA256"), L"");
    EXPECT_EQ(ReadRecordValue(text, L"sha"), L"") << "the key must be followed by =";
    EXPECT_EQ(ReadRecordValue(L"a=1\nb=2\r\r\nc=3", L"b"), L"2\r") << "only one carriage return is removed";
    EXPECT_EQ(ReadRecordValue(L"a=1\nc=", L"c"), L"") << "last line without a line end";
    EXPECT_EQ(ReadRecordValue(L"a=1\nc=3", L"c"), L"3");
}

TEST_F(RecordFiles, ValidityNeedsDigestSizeAndPath) {
    const std::wstring file = root_ / L"record.txt";
    const auto read = [&](const std::string& text) {
        WriteBytes(file, text);
        return ReadPackageRecord(file);
    };
    EXPECT_TRUE(read(RecordText(kDigest, "42", "C:\\p.exe")).has_value());
    EXPECT_FALSE(read(RecordText(kDigest, "42", "")).has_value()) << "no localPath line";
    EXPECT_FALSE(read(RecordText(kDigest, "0", "C:\\p.exe")).has_value()) << "size 0";
    EXPECT_FALSE(read(RecordText(kDigest, "-5", "C:\\p.exe")).has_value()) << "negative size";
    EXPECT_FALSE(read(RecordText(kDigest.substr(1), "42", "C:\\p.exe")).has_value()) << "63 digits";
    EXPECT_FALSE(read(RecordText(kDigest.substr(1) + "g", "42", "C:\\p.exe")).has_value()) << "non-hexadecimal";
    EXPECT_FALSE(read("").has_value()) << "empty file";
    EXPECT_FALSE(ReadPackageRecord(root_ / L"missing.txt").has_value());

    std::string renamedKey = RecordText(kDigest, "42", "C:\\p.exe");
    renamedKey.replace(renamedKey.find("sha256="), 7, "Sha256=");
    EXPECT_FALSE(read(renamedKey).has_value()) << "keys are case-sensitive";

    const std::optional<PackageRecord> noId = read(RecordText(kDigest, "42", "C:\\p.exe", ""));
    ASSERT_TRUE(noId.has_value()) << "the package id is optional";
    EXPECT_EQ(noId->packageId, "");

    std::string upper = kDigest;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    const std::optional<PackageRecord> upperCase = read(RecordText(upper, "42", "C:\\p.exe"));
    ASSERT_TRUE(upperCase.has_value());
    EXPECT_EQ(upperCase->sha256, upper) << "kept as written";

    const std::optional<PackageRecord> loose = read(RecordText(kDigest, "  +42abc", "C:\\p.exe"));
    ASSERT_TRUE(loose.has_value());
    EXPECT_EQ(loose->sizeBytes, 42) << "leading blanks, a sign and trailing text as _wtoi64 reads them";
}

TEST_F(RecordFiles, LineFeedOnlyRecordsReadTheSame) {
    const std::wstring crlf = root_ / L"crlf.txt";
    const std::wstring lf = root_ / L"lf.txt";
    std::string text = RecordText(kDigest, "42", "C:\\安装包\\p.exe");
    WriteBytes(crlf, text);
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
    WriteBytes(lf, text);

    const std::optional<PackageRecord> a = ReadPackageRecord(crlf);
    const std::optional<PackageRecord> b = ReadPackageRecord(lf);
    ASSERT_TRUE(a.has_value());
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(a->packageId, b->packageId);
    EXPECT_EQ(a->sha256, b->sha256);
    EXPECT_EQ(a->sizeBytes, b->sizeBytes);
    EXPECT_EQ(a->localPath, b->localPath);
    EXPECT_EQ(b->localPath, L"C:\\安装包\\p.exe");
    EXPECT_EQ(a->recordedAtUtc, b->recordedAtUtc);
}

TEST_F(RecordFiles, OversizedOrNonUtf8RecordsAreInvalid) {
    const std::wstring file = root_ / L"record.txt";
    // Long paths of multi-byte characters can push a record past the reader's 4,096 bytes.
    std::string longPath = "C:\\";
    while (longPath.size() < 3900) longPath += "安装包";
    WriteBytes(file, RecordText(kDigest, "42", longPath));
    EXPECT_FALSE(ReadPackageRecord(file).has_value());

    WriteBytes(file, RecordText(kDigest, "42", "C:\\p\xFF.exe"));
    EXPECT_FALSE(ReadPackageRecord(file).has_value());
}

}  // namespace
}  // namespace orivanta
