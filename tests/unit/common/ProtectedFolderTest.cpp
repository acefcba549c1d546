#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <vector>

#include "TestFiles.h"
#include "common/AdministratorsOnly.h"
#include "common/ProtectedFolder.h"

namespace orivanta {
namespace {

struct Entry {
    WELL_KNOWN_SID_TYPE sid;
    ACCESS_MASK mask;
    BYTE flags;
};

// The descriptor as the system receives it: owner, protection and each entry.
void ExpectDescriptor(const wchar_t* sddl, BYTE inheritance) {
    const UniqueLocalMemory descriptor = DescriptorFromSddl(sddl);
    ASSERT_TRUE(descriptor) << sddl;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted));
    EXPECT_TRUE(::IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing inherited from the parent";

    BOOL present = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl != nullptr);
    const std::vector<Entry> expected = {{WinLocalSystemSid, FILE_ALL_ACCESS, inheritance},
                                         {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, inheritance},
                                         {WinBuiltinUsersSid, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, inheritance}};
    ASSERT_EQ(dacl->AceCount, expected.size());
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        ASSERT_TRUE(::GetAce(dacl, index, &ace));
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(allowed->Header.AceFlags, expected[index].flags) << index;
        EXPECT_EQ(allowed->Mask, expected[index].mask) << index;
        EXPECT_TRUE(::IsWellKnownSid(&allowed->SidStart, expected[index].sid)) << index;
    }
    EXPECT_FALSE(NeedsResecuring(descriptor.get())) << "its own descriptor is trusted";
}

TEST(ProtectedFolder, DescriptorsGiveAdministratorsFullControlAndUsersReadAndExecuteOnly) {
    ExpectDescriptor(kProtectedFolderSecurity, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    ExpectDescriptor(kProtectedFileSecurity, 0);
}

bool Resecures(const wchar_t* sddl) {
    const UniqueLocalMemory descriptor = DescriptorFromSddl(sddl);
    EXPECT_TRUE(descriptor) << sddl;
    return NeedsResecuring(descriptor.get());
}

TEST(ProtectedFolder, FolderThatAnyoneElseOwnsOrMayChangeIsResecured) {
    EXPECT_FALSE(Resecures(L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;WD)"));
    EXPECT_FALSE(Resecures(L"O:BAD:(A;;FA;;;BA)(D;OICI;FA;;;WD)")) << "a deny entry only takes away";
    EXPECT_FALSE(Resecures(L"O:BAD:(A;;0x1200A9;;;AU)(A;;GR;;;BU)"));
    EXPECT_TRUE(Resecures(L"O:BUD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)")) << "owned by a standard user";
    EXPECT_TRUE(Resecures(L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;BA)")) << "owned by one user";
    EXPECT_TRUE(Resecures(L"O:BA")) << "no DACL lets everyone in";
    // Users may add a file or a folder: what ProgramData's subfolders inherit.
    EXPECT_TRUE(Resecures(L"O:BAD:(A;OICI;FA;;;BA)(A;CI;0x116;;;BU)"));
    EXPECT_TRUE(Resecures(L"O:BAD:(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)")) << "creator owner of what users add";
    // A volume root's usual grant: Modify on what it will hold.
    EXPECT_TRUE(Resecures(L"O:BAD:(A;OICI;FA;;;BA)(A;OICIIO;SDGXGWGR;;;AU)"));
    EXPECT_TRUE(Resecures(L"O:BAD:(A;;FA;;;BA)(A;;WD;;;WD)")) << "anyone may rewrite the DACL";
    EXPECT_TRUE(Resecures(L"O:BAD:(A;;FA;;;BA)(A;;SD;;;IU)")) << "anyone logged on may delete it";
}

TEST(ProtectedFolder, NewFolderIsCreatedAndHeldSoItCannotBeMovedAway) {
    test::TempFolder root(L"protected");
    const std::wstring folder = root / L"InstallerAssistant";
    ProtectedFolder established = EstablishProtectedFolder(folder);
    EXPECT_EQ(established.refusal, FolderRefusal::None);
    ASSERT_TRUE(established.handle);
    EXPECT_TRUE(test::DirectoryExists(folder));
    EXPECT_FALSE(::MoveFileW(folder.c_str(), (root / L"moved").c_str())) << "renamed while held";
    established.handle.reset();
    EXPECT_TRUE(::MoveFileW(folder.c_str(), (root / L"moved").c_str()));

    EXPECT_THROW(EstablishProtectedFolder(root / L"missing\\child"), std::runtime_error) << "parent missing";
}

TEST(ProtectedFolder, ExistingFolderKeepsWhatItHoldsAndAFileInTheWayIsRefused) {
    test::TempFolder root(L"protected");
    const std::wstring folder = root / L"publish";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((folder + L"\\.cache").c_str(), nullptr));
    test::WriteBytes(folder + L"\\.cache\\server.part", "part");
    test::WriteBytes(folder + L"\\package.exe", "MZ");
    const ProtectedFolder established = EstablishProtectedFolder(folder);
    EXPECT_EQ(established.refusal, FolderRefusal::None);
    EXPECT_TRUE(established.handle);
    EXPECT_EQ(test::ReadBytes(folder + L"\\.cache\\server.part"), "part");
    EXPECT_EQ(test::ReadBytes(folder + L"\\package.exe"), "MZ");

    test::WriteBytes(root / L"file", "in the way");
    const ProtectedFolder refused = EstablishProtectedFolder(root / L"file");
    EXPECT_EQ(refused.refusal, FolderRefusal::NotAFolder);
    EXPECT_FALSE(refused.handle);
    EXPECT_EQ(test::ReadBytes(root / L"file"), "in the way");
}

}  // namespace
}  // namespace orivanta
