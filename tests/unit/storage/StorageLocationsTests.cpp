#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

#include "DataRootFixture.h"
#include "storage/StorageLocations.h"

namespace orivanta {
namespace {

using test::DataRootTest;
using test::DirectoryExists;

using DiagnosticDataRoot = DataRootTest;

TEST_F(DiagnosticDataRoot, HoldsTheDownloaderRootAndTheSaveFolder) {
    const std::wstring nested = root_ / L"a\\b";
    EXPECT_EQ(InstallerDownloaderRoot(nested), nested);
    EXPECT_FALSE(DirectoryExists(nested)) << "the root is not created by asking for it";

    EXPECT_EQ(ChooseSaveFolder(nested).path, nested + L"\\packages");
    EXPECT_TRUE(DirectoryExists(nested + L"\\packages\\.cache")) << "created with every missing level";
    EXPECT_EQ(ChooseSaveFolder(nested).path, nested + L"\\packages") << "an existing folder is chosen again";
}

TEST_F(DiagnosticDataRoot, UncreatableSaveFolderRaises) {
    try {
        ChooseSaveFolder(L"?:\\nowhere");
        FAIL() << "no failure raised";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "create directory failed");
    }
}

// Drive D: as the probe describes it; zero bytes or flags stand for a failed query.
struct FakeDrive {
    UINT type;
    std::uint64_t available;
    DWORD flags;
} drive;

TEST(PublishDrive, QualifiesAsAFixedDiskWithRoomWhoseFileSystemKeepsAcls) {
    constexpr std::uint64_t kRoom = kPublishFreeSpaceThreshold + 1;
    constexpr DWORD kNtfs = FILE_CASE_PRESERVED_NAMES | FILE_PERSISTENT_ACLS;
    // What GetVolumeInformationW reports for FAT32 and exFAT: names, but no ACLs.
    constexpr DWORD kFat = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    const struct {
        FakeDrive drive;
        bool qualifies;
        const char* why;
    } cases[] = {
        {{DRIVE_FIXED, kRoom, kNtfs}, true, "NTFS with room"},
        {{DRIVE_FIXED, kRoom, kFat}, false, "FAT or exFAT cannot keep anyone out"},
        {{DRIVE_FIXED, kRoom, 0}, false, "file system unknown"},
        {{DRIVE_FIXED, kPublishFreeSpaceThreshold, kNtfs}, false, "exactly 10 GiB"},
        {{DRIVE_FIXED, 0, kNtfs}, false, "free space unknown"},
        {{DRIVE_REMOVABLE, kRoom, kNtfs}, false, "removable"},
    };
    PublishDriveProbe probe;
    probe.driveType = [](const wchar_t*) { return drive.type; };
    probe.availableBytes = [](const wchar_t*, std::uint64_t& bytes) { return (bytes = drive.available) != 0; };
    probe.fileSystemFlags = [](const wchar_t*, DWORD& flags) { return (flags = drive.flags) != 0; };
    for (const auto& row : cases) {
        drive = row.drive;
        EXPECT_EQ(PublishDriveQualifies(probe), row.qualifies) << row.why;
    }
}

}  // namespace
}  // namespace orivanta
