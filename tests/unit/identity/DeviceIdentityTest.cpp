#include <gtest/gtest.h>

#include <windows.h>

#include "TestFiles.h"
#include "common/Folders.h"
#include "common/Utf.h"
#include "identity/DeviceIdentity.h"
#include "identity/Sha256.h"

namespace orivanta {
namespace {

class DeviceIdentityTest : public ::testing::Test {
protected:
    std::wstring IdentityFile() const { return root / L"machine\\device-id.txt"; }
    static DWORD SerialOfDrive(const wchar_t* root) {
        DWORD serial = 0;
        EXPECT_TRUE(::GetVolumeInformationW(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) << root;
        return serial;
    }
    // The identity of this machine with Windows on C:, the only place earlier versions looked.
    std::string Expected() const { return Expected(SerialOfDrive(L"C:\\")); }
    std::string Expected(DWORD serial) const {
        std::wstring guid = ReadMachineGuid(KEY_WOW64_64KEY);
        if (guid.empty()) guid = ReadMachineGuid(0);
        return Sha256Hex(Utf16ToUtf8(DeviceIdentitySource(guid, serial)));
    }

    test::TempFolder root{L"identity"};
};

TEST(DeviceIdentitySource, IsUpperCasedSoTheGuidsLetterCaseDoesNotMatter) {
    EXPECT_EQ(DeviceIdentitySource(L"0f8fad5b-d9cb-469f-a165-70867728950e", 305419896),
              L"ORIVANTA-DEVICE-V1|MACHINEGUID=0F8FAD5B-D9CB-469F-A165-70867728950E|SYSTEMVOLUME=305419896");
    EXPECT_EQ(DeviceIdentitySource(L"0f8fad5b-d9cb-469f-a165-70867728950e", 4294967295u),
              DeviceIdentitySource(L"0F8FAD5B-D9CB-469F-A165-70867728950E", 4294967295u));
}

TEST_F(DeviceIdentityTest, IsComputedOnceAndPersistedUnderTheDataRoot) {
    const std::string first = GetStableDeviceId(root.path(), SystemWindowsFolder());
    EXPECT_EQ(first, Expected());
    EXPECT_EQ(first.size(), 64u);
    EXPECT_EQ(test::ReadBytes(IdentityFile()), first + "\r\n");

    // Deleting the file recomputes the same value.
    ::DeleteFileW(IdentityFile().c_str());
    EXPECT_EQ(GetStableDeviceId(root.path(), SystemWindowsFolder()), first);
    EXPECT_TRUE(test::FileExists(IdentityFile()));
}

TEST_F(DeviceIdentityTest, SystemVolumeIsTheOneHoldingTheWindowsFolder) {
    // The test prefix keeps Windows on C: and maps Z: onto the host's root, a volume with another serial.
    const DWORD otherSerial = SerialOfDrive(L"Z:\\");
    ASSERT_NE(otherSerial, SerialOfDrive(L"C:\\"));
    EXPECT_EQ(GetStableDeviceId(root.path(), L"Z:\\tmp"), Expected(otherSerial));
    EXPECT_EQ(test::ReadBytes(IdentityFile()), Expected(otherSerial) + "\r\n");

    // A Windows folder on no volume at all.
    ::DeleteFileW(IdentityFile().c_str());
    try {
        GetStableDeviceId(root.path(), L"Q:\\Windows");
        ADD_FAILURE() << "no failure raised";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "system volume identity unavailable");
    }
    EXPECT_FALSE(test::FileExists(IdentityFile()));
}

TEST_F(DeviceIdentityTest, StoredUpperCaseValueIsReturnedInLowerCaseWithoutRewriting) {
    GetStableDeviceId(root.path(), SystemWindowsFolder());
    const std::string stored = std::string(64, 'A') + "  \r\n";
    test::WriteBytes(IdentityFile(), stored);
    EXPECT_EQ(GetStableDeviceId(root.path(), SystemWindowsFolder()), std::string(64, 'a'));
    EXPECT_EQ(test::ReadBytes(IdentityFile()), stored);
}

TEST_F(DeviceIdentityTest, EveryMalformedStoredValueIsRecomputedAndOverwritten) {
    const std::string expected = Expected();
    const std::string malformed[] = {
        std::string(63, 'a') + "\r\n",
        std::string(65, 'a') + "\r\n",
        std::string(63, 'a') + "g\r\n",
        " " + std::string(64, 'a') + "\r\n",
        "",
        std::string(62, 'a') + "\xFF\xFE\r\n",
        std::string(4097, 'a'),
    };
    for (const std::string& content : malformed) {
        GetStableDeviceId(root.path(), SystemWindowsFolder());
        test::WriteBytes(IdentityFile(), content);
        EXPECT_EQ(GetStableDeviceId(root.path(), SystemWindowsFolder()), expected) << content.size();
        EXPECT_EQ(test::ReadBytes(IdentityFile()), expected + "\r\n");
    }
}

TEST_F(DeviceIdentityTest, UnwritableIdentityFileRaisesAndKeepsWhatWasThere) {
    GetStableDeviceId(root.path(), SystemWindowsFolder());
    // A folder in the file's place can neither be read as an identity nor replaced.
    ::DeleteFileW(IdentityFile().c_str());
    ::CreateDirectoryW(IdentityFile().c_str(), nullptr);
    try {
        GetStableDeviceId(root.path(), SystemWindowsFolder());
        ADD_FAILURE() << "no failure raised";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "stable device identity could not be persisted");
    }
    EXPECT_TRUE(test::DirectoryExists(IdentityFile()));
}

TEST_F(DeviceIdentityTest, MachineFolderFollowsTheDataRoot) {
    EXPECT_EQ(MachineFolder(root.path()), root / L"machine");
    const std::wstring normal = MachineFolder(L"");
    EXPECT_GT(normal.size(), 28u);
    EXPECT_EQ(normal.substr(normal.size() - 28), L"\\Orivanta\\InstallerAssistant");
}

}  // namespace
}  // namespace orivanta
