#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <map>

#include "DataRootFixture.h"
#include "common/AtomicFile.h"
#include "common/Folders.h"
#include "common/Handles.h"
#include "common/Utf.h"
#include "identity/Sha256.h"
#include "storage/ReuseLookup.h"
#include "storage/StorageLocations.h"
#include "state/Edition.h"

namespace orivanta {
namespace {

using test::DataRootTest;
using test::FileNames;
using test::WriteBytes;

TEST(SafeFileName, KeepsOnlyASafeExeName) {
    EXPECT_EQ(SafePackageFileName(L"..\\..\\tool.exe"), L"tool.exe");
    EXPECT_EQ(SafePackageFileName(L"../../tool.exe"), L"tool.exe");
    EXPECT_EQ(SafePackageFileName(L"C:tool.exe"), L"tool.exe");
    EXPECT_EQ(SafePackageFileName(L"inst<1>.EXE"), L"inst_1_.EXE");
    EXPECT_EQ(SafePackageFileName(L"a*b?c\"d|e\tf\x1F.exe"), L"a_b_c_d_e_f_.exe");
    EXPECT_EQ(SafePackageFileName(L"欧瑞凡达 Setup 2027.Exe"), L"欧瑞凡达 Setup 2027.Exe");

    EXPECT_EQ(SafePackageFileName(L"setup.msi"), L"OrivantaInstallerPackage.exe");
    EXPECT_EQ(SafePackageFileName(L""), L"OrivantaInstallerPackage.exe");
    EXPECT_EQ(SafePackageFileName(L"setup.exe.txt"), L"OrivantaInstallerPackage.exe");
    EXPECT_EQ(SafePackageFileName(L"setup.exe "), L"OrivantaInstallerPackage.exe");
    EXPECT_EQ(SafePackageFileName(L"setup"), L"OrivantaInstallerPackage.exe");
    EXPECT_EQ(SafePackageFileName(L"tools\\"), L"OrivantaInstallerPackage.exe");
}

TEST(FolderOf, RemovesTheFileName) {
    EXPECT_EQ(FolderOfPath(L"C:\\a\\b.exe"), L"C:\\a");
    EXPECT_EQ(FolderOfPath(L"D:\\欧瑞凡达安装包\\setup.exe"), L"D:\\欧瑞凡达安装包");
    EXPECT_EQ(FolderOfPath(L"b.exe"), L"");
    EXPECT_EQ(FolderOfPath(L""), L"");
}

const std::string kContent = "installer package bytes\n" + std::string(100000, 'z');

PackageMetadata MetadataFor(const std::string& content) {
    PackageMetadata metadata;
    metadata.packageId = "pkg-7";
    metadata.fileName = "Setup.exe";
    metadata.sha256 = Sha256Hex(content);
    metadata.sizeBytes = static_cast<std::int64_t>(content.size());
    return metadata;
}

TEST(RecordMatch, ComparesDigestSizeAndKnownPackageIds) {
    const PackageMetadata metadata = MetadataFor(kContent);
    PackageRecord record;
    record.packageId = metadata.packageId;
    record.sha256 = metadata.sha256;
    std::transform(record.sha256.begin(), record.sha256.end(), record.sha256.begin(), ::toupper);
    record.sizeBytes = metadata.sizeBytes;
    EXPECT_TRUE(RecordMatchesPackage(record, metadata)) << "digests compare without regard to case";

    PackageRecord other = record;
    other.sizeBytes += 1;
    EXPECT_FALSE(RecordMatchesPackage(other, metadata));
    other = record;
    other.sha256.back() = other.sha256.back() == 'A' ? 'B' : 'A';
    EXPECT_FALSE(RecordMatchesPackage(other, metadata));
    other = record;
    other.sha256.pop_back();
    EXPECT_FALSE(RecordMatchesPackage(other, metadata));

    other = record;
    other.packageId = "pkg-8";
    EXPECT_FALSE(RecordMatchesPackage(other, metadata));
    other.packageId.clear();
    EXPECT_TRUE(RecordMatchesPackage(other, metadata));
    PackageMetadata anonymous = metadata;
    anonymous.packageId.clear();
    EXPECT_TRUE(RecordMatchesPackage(record, anonymous));
}

using LocalPackage = DataRootTest;

TEST_F(LocalPackage, VerifiesSizeAndDigest) {
    const std::wstring file = root_ / L"Setup.exe";
    WriteBytes(file, kContent);
    PackageMetadata metadata = MetadataFor(kContent);
    EXPECT_TRUE(VerifyLocalPackage(file, metadata, stop_));
    std::transform(metadata.sha256.begin(), metadata.sha256.end(), metadata.sha256.begin(), ::toupper);
    EXPECT_TRUE(VerifyLocalPackage(file, metadata, stop_)) << "an upper-case expected digest";

    std::string changed = kContent;
    changed[70000] ^= 1;
    WriteBytes(file, changed);
    EXPECT_FALSE(VerifyLocalPackage(file, metadata, stop_)) << "one changed byte";

    WriteBytes(file, kContent + "x");
    EXPECT_FALSE(VerifyLocalPackage(file, metadata, stop_)) << "one byte longer";
    EXPECT_FALSE(VerifyLocalPackage(root_ / L"missing.exe", metadata, stop_));
    EXPECT_FALSE(VerifyLocalPackage(root_.path(), metadata, stop_)) << "a folder";
}

TEST_F(LocalPackage, PauseDuringHashingIsAPauseNotAMismatch) {
    const std::wstring file = root_ / L"Setup.exe";
    WriteBytes(file, kContent);
    stop_ = true;
    EXPECT_THROW(VerifyLocalPackage(file, MetadataFor(kContent), stop_), StopRequested);
}

TEST_F(LocalPackage, LockedFileIsAMismatchNotAFailure) {
    const std::wstring file = root_ / L"Setup.exe";
    WriteBytes(file, kContent);
    UniqueHandle exclusive(::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(exclusive);
    EXPECT_FALSE(VerifyLocalPackage(file, MetadataFor(kContent), stop_));
}

std::wstring PathOf(const std::optional<HeldPackage>& package) { return package ? package->Path() : L""; }

// Counts every verification the lookup asks for, per path, and verifies for real.
struct CountingVerifier {
    const StopFlag& stop;
    std::map<std::wstring, int> calls;
    int total = 0;
    PackageVerifier Verifier() {
        return [this](const std::wstring& path, const PackageMetadata& metadata) {
            ++calls[path];
            ++total;
            return VerifyLocalPackage(path, metadata, stop);
        };
    }
};

class ReuseLookup : public DataRootTest {
protected:
    void SetUp() override {
        EnsureDirectory(HistoryFolder());
        EnsureDirectory(saveFolder_);
    }

    std::wstring HistoryFolder() const { return DownloadsFolder(dataRoot_) + L"\\history"; }

    std::wstring Record(const std::wstring& localPath, const PackageMetadata& metadata) const {
        return L"schema=1\r\npackageType=server\r\npackageId=" + Utf8ToUtf16(metadata.packageId) +
               L"\r\nversionName=v\r\nfileName=Setup.exe\r\nsizeBytes=" + std::to_wstring(metadata.sizeBytes) +
               L"\r\nsha256=" + Utf8ToUtf16(metadata.sha256) + L"\r\nlocalPath=" + localPath +
               L"\r\nsource=existing-file-reused\r\nrecordedAtUtc=2027-01-03T09:05:07.004Z\r\n";
    }
    void WriteLatest(const std::wstring& localPath, const PackageMetadata& metadata, const wchar_t* word = L"server") {
        ASSERT_TRUE(
            WriteFileAtomically(DownloadsFolder(dataRoot_) + L"\\" + word + L"-latest.txt", Record(localPath, metadata)));
    }
    void WriteHistory(const std::wstring& name, const std::wstring& localPath, const PackageMetadata& metadata) {
        ASSERT_TRUE(WriteFileAtomically(HistoryFolder() + L"\\" + name, Record(localPath, metadata)));
    }
    // History files in the order the file system lists them, as the lookup sees them.
    std::vector<std::wstring> ListedHistoryFiles() const { return FileNames(HistoryFolder(), L"server-*.txt"); }

    std::wstring saveFolder_ = root_ / L"packages";
    PackageMetadata metadata_ = MetadataFor(kContent);
};

TEST_F(ReuseLookup, GoodLatestRecordIsReturnedWithoutHashingAnythingElse) {
    const std::wstring recorded = saveFolder_ + L"\\Setup (2).exe";
    WriteBytes(recorded, kContent);
    WriteBytes(saveFolder_ + L"\\Setup.exe", kContent);
    WriteHistory(L"server-1.txt", saveFolder_ + L"\\Setup.exe", metadata_);
    WriteLatest(recorded, metadata_);

    CountingVerifier counter{stop_};
    std::optional<HeldPackage> found =
        FindReusablePackage(metadata_, saveFolder_, Edition::Server, dataRoot_, stop_, counter.Verifier());
    EXPECT_EQ(PathOf(found), recorded);
    EXPECT_EQ(counter.total, 1);
    // Found is held: nobody writes it until the finder lets it go.
    EXPECT_FALSE(UniqueHandle(::CreateFileW(recorded.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr)));
    found.reset();
    EXPECT_TRUE(UniqueHandle(::CreateFileW(recorded.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr)));
}

TEST_F(ReuseLookup, ChangedByteMovesOnToTheNextCandidate) {
    const std::wstring recorded = saveFolder_ + L"\\recorded.exe";
    std::string changed = kContent;
    changed[5] ^= 0x20;
    WriteBytes(recorded, changed);
    WriteBytes(saveFolder_ + L"\\Setup.exe", kContent);
    WriteLatest(recorded, metadata_);

    CountingVerifier counter{stop_};
    EXPECT_EQ(PathOf(FindReusablePackage(metadata_, saveFolder_, Edition::Server, dataRoot_, stop_,
                                         counter.Verifier())),
              saveFolder_ + L"\\Setup.exe");
    EXPECT_EQ(counter.calls[recorded], 1);
    EXPECT_EQ(counter.total, 2);
}

TEST_F(ReuseLookup, CandidatesComeInOrderWithoutLetterCaseDuplicates) {
    const std::wstring shared = saveFolder_ + L"\\Shared.exe";
    std::wstring upper = shared;
    std::transform(upper.begin(), upper.end(), upper.begin(), std::towupper);
    WriteLatest(shared, metadata_);
    WriteHistory(L"server-a.txt", upper, metadata_);
    WriteHistory(L"server-b.txt", saveFolder_ + L"\\shared.exe", metadata_);
    WriteHistory(L"server-c.txt", saveFolder_ + L"\\sHaReD.ExE", metadata_);
    WriteHistory(L"server-d.txt", saveFolder_ + L"\\other.exe", metadata_);
    WriteLatest(saveFolder_ + L"\\client-copy.exe", metadata_, L"client");
    WriteHistory(L"client-a.txt", saveFolder_ + L"\\client-history.exe", metadata_);

    const std::vector<std::wstring> candidates = ReuseCandidates(metadata_, saveFolder_, Edition::Server, dataRoot_);
    const std::vector<std::wstring> expected = {shared, saveFolder_ + L"\\other.exe", saveFolder_ + L"\\Setup.exe"};
    EXPECT_EQ(candidates, expected) << "client records are not read for the server edition, and a data "
                                       "root keeps D: and the per-user folder out";

    WriteBytes(shared, kContent);
    CountingVerifier counter{stop_};
    EXPECT_EQ(PathOf(FindReusablePackage(metadata_, saveFolder_, Edition::Server, dataRoot_, stop_,
                                         counter.Verifier())),
              shared);
    EXPECT_EQ(counter.total, 1) << "the same path in four letter cases is hashed once";
}

TEST_F(ReuseLookup, RecordsOfOtherPackagesAreIgnored) {
    PackageMetadata otherId = metadata_;
    otherId.packageId = "pkg-6";
    PackageMetadata noId = metadata_;
    noId.packageId.clear();
    PackageMetadata otherSize = metadata_;
    otherSize.sizeBytes += 1;
    WriteLatest(saveFolder_ + L"\\other-id.exe", otherId);
    WriteHistory(L"server-1.txt", saveFolder_ + L"\\no-id.exe", noId);
    WriteHistory(L"server-2.txt", saveFolder_ + L"\\other-size.exe", otherSize);

    const std::vector<std::wstring> candidates = ReuseCandidates(metadata_, saveFolder_, Edition::Server, dataRoot_);
    const std::vector<std::wstring> expected = {saveFolder_ + L"\\no-id.exe", saveFolder_ + L"\\Setup.exe"};
    EXPECT_EQ(candidates, expected);
}

// A record is only a hint, and may be a hostile one: whatever it names outside our
// own folders is neither opened nor hashed, even where an identical package lies.
TEST_F(ReuseLookup, RecordsNamingPlacesOutsideOurFoldersAreIgnored) {
    EnsureDirectory(root_ / L"elsewhere");
    WriteBytes(root_ / L"elsewhere\\Setup.exe", kContent);
    const std::vector<std::wstring> planted = {
        root_ / L"elsewhere\\Setup.exe",                // another folder
        L"\\\\127.0.0.1\\share\\Setup.exe",              // a stranger's server
        L"\\\\?\\" + saveFolder_ + L"\\Copy.exe",        // a device path into our folder
        saveFolder_ + L"\\..\\elsewhere\\Setup.exe",     // out again by ".."
        saveFolder_ + L"\\sub\\Setup.exe",               // below the folder, not in it
        saveFolder_ + L"/Copy.exe",                     // another separator
        saveFolder_ + L"\\Copy.exe:hidden",             // a stream
        saveFolder_ + L"\\Setup.bat",                   // no program of ours
        L"Setup.exe",                                   // relative to wherever we run
    };
    WriteLatest(planted[0], metadata_);
    for (size_t i = 1; i < planted.size(); ++i) {
        WriteHistory(L"server-" + std::to_wstring(i) + L".txt", planted[i], metadata_);
    }
    WriteHistory(L"server-ours.txt", saveFolder_ + L"\\Setup (1).exe", metadata_);

    const std::vector<std::wstring> expected = {saveFolder_ + L"\\Setup (1).exe", saveFolder_ + L"\\Setup.exe"};
    EXPECT_EQ(ReuseCandidates(metadata_, saveFolder_, Edition::Server, dataRoot_), expected);
    CountingVerifier counter{stop_};
    EXPECT_FALSE(FindReusablePackage(metadata_, saveFolder_, Edition::Server, dataRoot_, stop_, counter.Verifier()));
    EXPECT_EQ(counter.total, 0) << "the two candidates in the save folder are missing, and nothing else is examined";
}

TEST_F(ReuseLookup, CopyReachedThroughALinkIsNotOpened) {
    const std::wstring real = root_ / L"real";
    const std::wstring linked = root_ / L"linked";
    EnsureDirectory(real);
    WriteBytes(real + L"\\Setup.exe", kContent);
    ASSERT_TRUE(test::MakeUnixSymbolicLink(linked, real));
    ASSERT_TRUE(test::FileExists(linked + L"\\Setup.exe"));
    WriteLatest(linked + L"\\Setup.exe", metadata_);

    CountingVerifier counter{stop_};
    EXPECT_FALSE(FindReusablePackage(metadata_, linked, Edition::Server, dataRoot_, stop_, counter.Verifier()));
    EXPECT_EQ(counter.total, 0) << "a save folder that is a link is not followed";
}

TEST_F(ReuseLookup, OnlyTheFirstHundredListedHistoryFilesAreRead) {
    for (int i = 0; i < 150; ++i) {
        WriteHistory(L"server-" + std::to_wstring(i) + L".txt",
                     saveFolder_ + L"\\copy-" + std::to_wstring(i) + L".exe", metadata_);
    }
    EnsureDirectory(HistoryFolder() + L"\\server-folder.txt");
    const std::vector<std::wstring> listed = ListedHistoryFiles();
    ASSERT_EQ(listed.size(), 150u);

    std::vector<std::wstring> expected;
    for (size_t i = 0; i < 100; ++i) {
        const std::wstring record = ReadPackageRecord(HistoryFolder() + L"\\" + listed[i])->localPath;
        expected.push_back(record);
    }
    expected.push_back(saveFolder_ + L"\\Setup.exe");
    EXPECT_EQ(ReuseCandidates(metadata_, saveFolder_, Edition::Server, dataRoot_), expected)
        << "folders matching the pattern are skipped and not counted";

    // Unreadable records count against the cap as well: with the first 100 spoiled in
    // place (keeping the listing order), the 50 good ones are never read.
    for (size_t i = 0; i < 100; ++i) WriteBytes(HistoryFolder() + L"\\" + listed[i], "spoiled");
    ASSERT_EQ(ListedHistoryFiles(), listed);
    const std::vector<std::wstring> onlySaveFolder = {saveFolder_ + L"\\Setup.exe"};
    EXPECT_EQ(ReuseCandidates(metadata_, saveFolder_, Edition::Server, dataRoot_), onlySaveFolder);
}

TEST_F(ReuseLookup, DirectCandidatesUseTheSafeFileName) {
    PackageMetadata metadata = metadata_;
    metadata.fileName = "setup.msi";
    WriteBytes(saveFolder_ + L"\\OrivantaInstallerPackage.exe", kContent);
    EXPECT_EQ(PathOf(FindReusablePackage(metadata, saveFolder_, Edition::Server, dataRoot_, stop_)),
              saveFolder_ + L"\\OrivantaInstallerPackage.exe");

    metadata.fileName = "..\\..\\tool.exe";
    const std::vector<std::wstring> expected = {saveFolder_ + L"\\tool.exe"};
    EXPECT_EQ(ReuseCandidates(metadata, saveFolder_, Edition::Server, dataRoot_), expected);
}

TEST_F(ReuseLookup, WithoutDataRootThePerUserFolderFollowsTheSaveFolderButDOnlyAsTheSaveFolder) {
    // D:\欧瑞凡达安装包 not chosen this run has not been checked for its protection:
    // an installer started from it could load DLLs that anyone placed beside it.
    const std::wstring perUser = KnownFolderPath(0x001c) + L"\\Orivanta\\InstallerDownloader\\packages";
    EXPECT_EQ(ReuseFolders(saveFolder_, L""), (std::vector<std::wstring>{saveFolder_, perUser}));
    const std::vector<std::wstring> candidates = ReuseCandidates(metadata_, saveFolder_, Edition::Server, L"");
    ASSERT_GE(candidates.size(), 2u);
    const std::vector<std::wstring> tail(candidates.end() - 2, candidates.end());
    EXPECT_EQ(tail, (std::vector<std::wstring>{saveFolder_ + L"\\Setup.exe", perUser + L"\\Setup.exe"}));
    EXPECT_FALSE(IsReuseCandidatePath(L"D:\\欧瑞凡达安装包\\Setup.exe", ReuseFolders(saveFolder_, L"")));
    EXPECT_TRUE(IsReuseCandidatePath(L"D:\\欧瑞凡达安装包\\Setup.exe", ReuseFolders(L"D:\\欧瑞凡达安装包", L"")));
}

TEST_F(ReuseLookup, PauseBeforeTheLookupHashesNothing) {
    WriteBytes(saveFolder_ + L"\\Setup.exe", kContent);
    stop_ = true;
    CountingVerifier counter{stop_};
    EXPECT_THROW(FindReusablePackage(metadata_, saveFolder_, Edition::Server, dataRoot_, stop_, counter.Verifier()),
                 StopRequested);
    EXPECT_EQ(counter.total, 0);
}

TEST_F(ReuseLookup, PauseDuringHashingEndsTheLookup) {
    const std::wstring recorded = saveFolder_ + L"\\recorded.exe";
    WriteBytes(recorded, kContent);
    WriteBytes(saveFolder_ + L"\\Setup.exe", kContent);
    WriteLatest(recorded, metadata_);
    CountingVerifier counter{stop_};
    const PackageVerifier pauseWhileHashing = [&](const std::wstring& path, const PackageMetadata& metadata) {
        stop_ = true;
        return counter.Verifier()(path, metadata);
    };
    EXPECT_THROW(FindReusablePackage(metadata_, saveFolder_, Edition::Server, dataRoot_, stop_, pauseWhileHashing),
                 StopRequested);
    EXPECT_EQ(counter.total, 1) << "no candidate after the paused one";
}

TEST_F(ReuseLookup, NothingFoundIsAnEmptyResult) {
    WriteBytes(saveFolder_ + L"\\Setup.exe", kContent + "tail");
    ::RemoveDirectoryW(HistoryFolder().c_str());
    EXPECT_FALSE(FindReusablePackage(metadata_, saveFolder_, Edition::Client, dataRoot_, stop_));
}

}  // namespace
}  // namespace orivanta
