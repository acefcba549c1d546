#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/GuidText.h"
#include "common/Handles.h"
#include "common/Utf.h"
#include "TestFiles.h"
#include "workflow/SessionFiles.h"

namespace orivanta {
namespace {

using test::FileExists;
using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

const std::string kSessionId = "3F2504E0-4F89-11D3-9A0C-0305E82C3301";

TEST(SessionText, TrailingLineBreaksBlanksAndTabsAreTrimmed) {
    TempFolder folder(L"session");
    const std::wstring state = folder / L"server.state";
    WriteBytes(state, kSessionId + "\r\n\r\n  \t");
    EXPECT_EQ(ReadSessionText(state), Utf8ToUtf16(kSessionId));
    EXPECT_TRUE(IsValidSessionId(ReadSessionText(state)));

    WriteBytes(state, " " + kSessionId + "\n");
    EXPECT_EQ(ReadSessionText(state), L" " + Utf8ToUtf16(kSessionId)) << "leading blanks are not trimmed";
    EXPECT_FALSE(IsValidSessionId(ReadSessionText(state)));
}

TEST(SessionText, UnreadableFilesReadAsEmpty) {
    TempFolder folder(L"session");
    const std::wstring state = folder / L"client.state";
    EXPECT_EQ(ReadSessionText(state), L"") << "missing file";

    WriteBytes(state, kSessionId + std::string(4097 - kSessionId.size(), ' '));
    EXPECT_EQ(ReadSessionText(state), L"") << "4,097 bytes";
    WriteBytes(state, kSessionId + std::string(4096 - kSessionId.size(), ' '));
    EXPECT_EQ(ReadSessionText(state), Utf8ToUtf16(kSessionId)) << "4,096 bytes are still read";

    WriteBytes(state, kSessionId + "\xC3");
    EXPECT_EQ(ReadSessionText(state), L"") << "invalid UTF-8";
}

TEST(SessionId, OnlyTheBareThirtySixCharacterGuidFormIsValid) {
    EXPECT_TRUE(IsValidSessionId(NewGuidText()));
    EXPECT_TRUE(IsValidSessionId(L"3f2504e0-4f89-11d3-9a0c-0305e82c3301")) << "lower case";

    EXPECT_FALSE(IsValidSessionId(L"{3F2504E0-4F89-11D3-9A0C-0305E82C3301}")) << "braces";
    EXPECT_FALSE(IsValidSessionId(L"3F2504E0-4F89-11D3-9A0C-0305E82C330")) << "35 characters";
    EXPECT_FALSE(IsValidSessionId(L"3F2504E0-4F89-11D3-9A0C-0305E82C33011")) << "37 characters";
    EXPECT_FALSE(IsValidSessionId(L"3F2504E0-4F89-11D3-9A0C-0305E82C330G")) << "non-hexadecimal";
    EXPECT_FALSE(IsValidSessionId(L"3F2504E04-F89-11D3-9A0C-0305E82C3301")) << "hyphen misplaced";
    EXPECT_FALSE(IsValidSessionId(L"3F2504E0-4F89-11D3-9A0C-0305E82C3301 ")) << "blank inside the length";
    EXPECT_FALSE(IsValidSessionId(L""));
}

TEST(PartFile, SizeIsReadWhileTheDownloadStillWritesIt) {
    TempFolder folder(L"session");
    const std::wstring part = folder / L"server.part";
    EXPECT_EQ(PartFileSize(part), 0) << "missing file";
    EXPECT_EQ(PartFileSize(folder.path()), 0) << "a folder";

    WriteBytes(part, std::string(70000, 'x'));
    UniqueHandle writer(::CreateFileW(part.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
    ASSERT_TRUE(writer);
    EXPECT_EQ(PartFileSize(part), 70000);
}

TEST(SessionSave, WritesTheIdentifierAndCrLfAtomically) {
    TempFolder folder(L"session");
    const std::wstring state = folder / L"server.state";
    ASSERT_TRUE(SaveSessionText(state, Utf8ToUtf16(kSessionId)));
    EXPECT_EQ(ReadBytes(state), kSessionId + "\r\n");
    EXPECT_EQ(test::CountFilesMatching(folder.path(), L"*.tmp"), 0);

    EXPECT_FALSE(SaveSessionText(folder / L"missing\\server.state", Utf8ToUtf16(kSessionId)));
    EXPECT_FALSE(FileExists(folder / L"missing\\server.state"));
}

class SessionRestore : public ::testing::Test {
protected:
    TempFolder folder_{L"restore"};
    std::wstring state_ = folder_ / L"server.state";
    std::wstring part_ = folder_ / L"server.part";
};

TEST_F(SessionRestore, ValidSessionResumesAtThePartFileSize) {
    WriteBytes(state_, kSessionId + "\r\n\r\n  \t");
    WriteBytes(part_, std::string(1234, 'p'));
    const RestoredSession restored = RestoreSession(state_, part_);
    EXPECT_EQ(restored.sessionText, Utf8ToUtf16(kSessionId));
    EXPECT_EQ(restored.resumeOffset, 1234);
    EXPECT_TRUE(FileExists(state_));
    EXPECT_EQ(ReadBytes(part_), std::string(1234, 'p'));
}

TEST_F(SessionRestore, ValidSessionWithoutPartFileStartsAtZero) {
    WriteBytes(state_, kSessionId + "\r\n");
    const RestoredSession restored = RestoreSession(state_, part_);
    EXPECT_EQ(restored.sessionText, Utf8ToUtf16(kSessionId));
    EXPECT_EQ(restored.resumeOffset, 0);
    EXPECT_TRUE(FileExists(state_));
}

TEST_F(SessionRestore, InvalidSessionDiscardsBothFiles) {
    for (const std::string& content : {"{" + kSessionId + "}\r\n", std::string("not a session\r\n")}) {
        WriteBytes(state_, content);
        WriteBytes(part_, "partial");
        const RestoredSession restored = RestoreSession(state_, part_);
        EXPECT_EQ(restored.sessionText, L"") << content;
        EXPECT_EQ(restored.resumeOffset, 0) << content;
        EXPECT_FALSE(FileExists(state_)) << content;
        EXPECT_FALSE(FileExists(part_)) << content;
    }
}

TEST_F(SessionRestore, BytesWithoutASessionAreDiscarded) {
    WriteBytes(part_, "orphaned bytes");
    RestoredSession restored = RestoreSession(state_, part_);
    EXPECT_EQ(restored.sessionText, L"");
    EXPECT_EQ(restored.resumeOffset, 0);
    EXPECT_FALSE(FileExists(part_));

    // An oversized session file reads as no session: its part goes, the file itself is
    // left for the next saved session to replace.
    WriteBytes(state_, std::string(5000, ' '));
    WriteBytes(part_, "orphaned bytes");
    restored = RestoreSession(state_, part_);
    EXPECT_EQ(restored.resumeOffset, 0);
    EXPECT_FALSE(FileExists(part_));
    EXPECT_TRUE(FileExists(state_));
}

TEST_F(SessionRestore, EmptyPartFileWithoutSessionIsLeftAlone) {
    WriteBytes(part_, "");
    const RestoredSession restored = RestoreSession(state_, part_);
    EXPECT_EQ(restored.resumeOffset, 0);
    EXPECT_TRUE(FileExists(part_));
}

}  // namespace
}  // namespace orivanta
