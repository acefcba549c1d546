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
    EXPECT_FALSE(IsForeignFolder(descriptor.get(), false, kProtectedFolder)) << "its own descriptor is trusted";
}

TEST(ProtectedFolder, DescriptorGivesAdministratorsFullControlAndUsersReadAndExecuteOnly) {
    ExpectDescriptor(kProtectedFolderSecurity, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
}

TEST(ProtectedFolder, FolderIsOursByItsRecordedIdElseByOwnerAndDacl) {
    // What Wine reads back for every folder, the program's own included.
    constexpr wchar_t kAsWineReadsIt[] = L"O:S-1-5-21-0-0-0-1000D:(A;;FA;;;S-1-5-21-0-0-0-1000)(A;;FRFX;;;WD)";
    // What ProgramData's subfolders inherit: users may add entries, and own what they add.
    constexpr wchar_t kProgramDataChild[] =
        L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;0x116;;;BU)";
    const struct {
        const wchar_t* sddl;
        bool recorded;
        const FolderRules& rules;
        bool foreign;
        const char* why;
    } cases[] = {
        {kAsWineReadsIt, true, kProtectedFolder, false, "ours by its recorded ID"},
        {kAsWineReadsIt, false, kProtectedFolder, true, "someone else's without the ID"},
        {kProtectedFolderSecurity, false, kProtectedFolder, false, "made by the previous version"},
        {L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;WD)", false, kProtectedFolder, false, "SYSTEM's"},
        {L"O:BAD:(A;;FA;;;BA)(D;OICI;FA;;;WD)", false, kProtectedFolder, false, "a deny entry only takes away"},
        {L"O:BUD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false, kProtectedFolder, true, "owned by a standard user"},
        {L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;BA)", false, kProtectedFolder, true, "owned by one user"},
        {L"O:BA", false, kProtectedFolder, true, "no DACL lets everyone in"},
        {kProgramDataChild, false, kProtectedFolder, true, "users may add files"},
        {L"O:BAD:(A;OICI;FA;;;BA)(A;OICIIO;SDGXGWGR;;;AU)", false, kProtectedFolder, true, "Modify on contents"},
        {L"O:BAD:(A;;FA;;;BA)(A;;WD;;;WD)", false, kProtectedFolder, true, "anyone may rewrite the DACL"},
        {L"O:BAD:(A;;FA;;;BA)(A;;SD;;;IU)", false, kProtectedFolder, true, "anyone logged on may delete it"},
        {kProtectedFolderSecurity, false, kPrivateFolder, true, "a cache users may read"},
        {kPrivateFolderSecurity, false, kPrivateFolder, false, "a cache for administrators only"},
    };
    for (const auto& row : cases) {
        const UniqueLocalMemory descriptor = DescriptorFromSddl(row.sddl);
        ASSERT_TRUE(descriptor) << row.sddl;
        EXPECT_EQ(IsForeignFolder(descriptor.get(), row.recorded, row.rules), row.foreign) << row.why;
    }
    EXPECT_TRUE(IsForeignFolder(nullptr, false, kProtectedFolder)) << "an unreadable descriptor";
}

// Folder IDs recorded under the current user's key, removed afterwards.
class EstablishedFolder : public ::testing::Test {
protected:
    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\OrivantaTests"); }
    static constexpr wchar_t kKey[] = L"Software\\OrivantaTests\\InstallerAssistant\\Folders";
    const FolderRecords records_{HKEY_CURRENT_USER, kKey};
    test::TempFolder root_{L"protected"};
};

TEST_F(EstablishedFolder, OursIsHeldAndKeptWhatItHoldsAcrossRuns) {
    const std::wstring folder = root_ / L"InstallerAssistant";
    ProtectedFolder first = EstablishProtectedFolder(folder, kProtectedFolder, records_);
    ASSERT_EQ(first.refusal, FolderRefusal::None);
    ASSERT_TRUE(first.handle);
    EXPECT_FALSE(::MoveFileW(folder.c_str(), (root_ / L"moved").c_str())) << "renamed while held";
    first.handle.reset();
    test::WriteBytes(folder + L"\\record.txt", "ours");

    const ProtectedFolder again = EstablishProtectedFolder(folder, kProtectedFolder, records_);
    EXPECT_EQ(again.refusal, FolderRefusal::None);
    EXPECT_EQ(test::ReadBytes(folder + L"\\record.txt"), "ours") << "recognised by its ID, not set aside";
    EXPECT_TRUE(test::EntryNames(root_.path(), L"*.foreign-*").empty());

    EXPECT_THROW(EstablishProtectedFolder(root_ / L"missing\\child", kProtectedFolder, records_), std::runtime_error)
        << "parent missing";
}

// What Wine reports for every key, those made with the records' own DACL and by reg.exe alike.
constexpr wchar_t kKeyAsWineReadsIt[] = L"O:BAD:(A;CIIO;GR;;;BU)(A;;KA;;;BA)";
const wchar_t* folderKeySecurity = kKeyAsWineReadsIt;
const wchar_t* parentKeySecurity = kKeyAsWineReadsIt;

UniqueLocalMemory ReadTableKeySecurity(HKEY, const std::wstring& key) {
    // The vendor's key above the program's two: users may change it, which concerns no records.
    if (key == L"Software\\OrivantaTests") return DescriptorFromSddl(L"O:BUD:(A;;KA;;;BU)");
    const bool folders = key.size() > 8 && key.compare(key.size() - 8, 8, L"\\Folders") == 0;
    const wchar_t* sddl = folders ? folderKeySecurity : parentKeySecurity;
    return sddl ? DescriptorFromSddl(sddl) : UniqueLocalMemory();
}

TEST_F(EstablishedFolder, RecordsCountOnlyInAKeyThatAdministratorsAloneMayChange) {
    const std::wstring folder = root_ / L"recorded";
    FolderId id;
    {
        const ProtectedFolder made = EstablishProtectedFolder(folder, kProtectedFolder, records_);
        ASSERT_TRUE(made.handle && ReadFolderId(made.handle.get(), id));
    }
    EXPECT_TRUE(IsRecordedFolder(records_, folder, id)) << "the key as Wine reports it";
    FolderRecords judged = records_;
    judged.keySecurity = ReadTableKeySecurity;
    const struct {
        const wchar_t* folders;
        const wchar_t* parent;
        bool counts;
        const char* why;
    } cases[] = {
        {kKeyAsWineReadsIt, kKeyAsWineReadsIt, true, "administrators alone"},
        {L"O:BAD:(A;;KA;;;BA)(A;;KR;;;BU)", L"O:SYD:(A;;KA;;;SY)(A;CIIO;KA;;;BU)", true, "users read; future subkeys"},
        {L"O:BAD:(A;;KA;;;BA)(A;;0x2;;;BU)", kKeyAsWineReadsIt, false, "users may set values"},
        {L"O:BAD:(A;;KA;;;BA)(A;;GW;;;AU)", kKeyAsWineReadsIt, false, "generic write"},
        {L"O:BUD:(A;;KA;;;BA)", kKeyAsWineReadsIt, false, "owned by a user"},
        {kKeyAsWineReadsIt, L"O:BAD:(A;;KA;;;BA)(A;;0x4;;;BU)", false, "a parent users may add keys to"},
        {kKeyAsWineReadsIt, L"O:BAD:(A;;KA;;;BA)(A;;WD;;;WD)", false, "a parent anyone may re-secure"},
        {kKeyAsWineReadsIt, L"O:BAD:(A;;KA;;;BA)(A;;SD;;;IU)", false, "a parent anyone logged on may delete"},
        {nullptr, kKeyAsWineReadsIt, false, "unreadable"},
    };
    for (const auto& row : cases) {
        folderKeySecurity = row.folders;
        parentKeySecurity = row.parent;
        EXPECT_EQ(IsRecordedFolder(judged, folder, id), row.counts) << row.why;
    }
    folderKeySecurity = parentKeySecurity = L"O:BAD:(A;;KA;;;BA)(A;;0x2;;;BU)";
    EXPECT_EQ(EstablishProtectedFolder(folder, kProtectedFolder, judged).refusal, FolderRefusal::None);
    EXPECT_EQ(test::EntryNames(root_.path(), L"recorded.foreign-*").size(), 1u) << "judged as unrecorded: set aside";
}

TEST_F(EstablishedFolder, SomeoneElsesIsSetAsideWholeAndAFreshOneMade) {
    const std::wstring folder = root_ / L"publish";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((folder + L"\\.cache").c_str(), nullptr));
    test::WriteBytes(folder + L"\\version.dll", "planted");

    // Still open elsewhere without delete sharing: it cannot be moved, so it is refused as it is.
    UniqueHandle blocker(::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(blocker);
    EXPECT_EQ(EstablishProtectedFolder(folder, kProtectedFolder, records_).refusal, FolderRefusal::NotSetAside);
    EXPECT_EQ(test::ReadBytes(folder + L"\\version.dll"), "planted");
    blocker.reset();

    const ProtectedFolder established = EstablishProtectedFolder(folder, kProtectedFolder, records_);
    ASSERT_EQ(established.refusal, FolderRefusal::None);
    EXPECT_TRUE(established.handle);
    EXPECT_TRUE(test::EntryNames(folder, L"*").empty()) << "nothing of the old content in the new folder";
    const std::vector<std::wstring> aside = test::EntryNames(root_.path(), L"publish.foreign-*");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(test::ReadBytes(root_ / aside[0] + L"\\version.dll"), "planted") << "moved aside as it was";
    EXPECT_TRUE(test::DirectoryExists(root_ / aside[0] + L"\\.cache"));

    test::WriteBytes(root_ / L"file", "in the way");
    EXPECT_EQ(EstablishProtectedFolder(root_ / L"file", kProtectedFolder, records_).refusal, FolderRefusal::NotAFolder);
    EXPECT_EQ(test::ReadBytes(root_ / L"file"), "in the way");
    ASSERT_TRUE(test::MakeUnixSymbolicLink(root_ / L"link", folder));
    EXPECT_EQ(EstablishProtectedFolder(root_ / L"link", kProtectedFolder, records_).refusal,
              FolderRefusal::ReparsePoint);

    // One that is not the program's is used as it is: never judged, moved or changed.
    EXPECT_TRUE(HoldFolderAsItIs(root_ / aside[0]).handle);
    EXPECT_EQ(test::EntryNames(root_.path(), L"publish.foreign-*").size(), 1u);
    EXPECT_EQ(HoldFolderAsItIs(root_ / L"link").refusal, FolderRefusal::ReparsePoint);
}

}  // namespace
}  // namespace orivanta
