#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>
#include <thread>

#include "TestFiles.h"
#include "common/Handles.h"
#include "common/GuidText.h"
#include "identity/Sha256.h"

namespace orivanta {
namespace {

constexpr char kEmptyDigest[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(LowerHex, HighNibbleFirstInLowerCase) {
    const unsigned char bytes[] = {0x00, 0xAB, 0xFF};
    EXPECT_EQ(LowerHex(bytes, sizeof(bytes)), "00abff");
    EXPECT_EQ(LowerHex(nullptr, 0), "");
}

TEST(Sha256Hex, MatchesTheFipsVectors) {
    EXPECT_EQ(Sha256Hex(""), kEmptyDigest);
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(DigestText, SixtyFourHexDigitsOfEitherCaseAndLowerCasedForComparison) {
    const std::string upper = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";
    EXPECT_TRUE(IsDigestText(kEmptyDigest));
    EXPECT_TRUE(IsDigestText(upper));
    EXPECT_EQ(LowerCaseDigest(upper), kEmptyDigest);
    EXPECT_FALSE(IsDigestText(upper.substr(1)));
    EXPECT_FALSE(IsDigestText(upper + "0"));
    EXPECT_FALSE(IsDigestText(std::string(63, 'a') + "g"));
    std::string leadingBlank = upper;
    leadingBlank[0] = ' ';
    EXPECT_FALSE(IsDigestText(leadingBlank));
    EXPECT_EQ(LowerCaseDigest("AZaz09-\xC3\x84"), "azaz09-\xC3\x84") << "only A..Z change";
}

class Sha256FileTest : public ::testing::Test {
protected:
    test::TempFolder folder{L"sha"};
    StopFlag stop{false};
};

TEST_F(Sha256FileTest, EmptyFileGivesTheEmptyMessageDigestEvenWhilePaused) {
    test::WriteBytes(folder / L"empty.bin", "");
    EXPECT_EQ(Sha256FileHex(folder / L"empty.bin", stop), kEmptyDigest);
    stop = true;
    EXPECT_EQ(Sha256FileHex(folder / L"empty.bin", stop), kEmptyDigest);
}

TEST_F(Sha256FileTest, ChunkBoundariesDoNotChangeTheDigest) {
    for (size_t size : {size_t{65535}, size_t{65536}, size_t{65537}, size_t{3 * 65536 + 17}}) {
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 131 + 7) & 0xFF);
        test::WriteBytes(folder / L"data.bin", content);
        EXPECT_EQ(Sha256FileHex(folder / L"data.bin", stop), Sha256Hex(content)) << size;
    }
}

TEST_F(Sha256FileTest, PauseStopsAfterTheFirstChunk) {
    test::WriteBytes(folder / L"data.bin", std::string(200000, 'x'));
    stop = true;
    try {
        Sha256FileHex(folder / L"data.bin", stop);
        ADD_FAILURE() << "no failure raised";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "paused");
    }
    // The file handle was released: the file can be deleted at once.
    EXPECT_TRUE(::DeleteFileW((folder / L"data.bin").c_str()));
}

TEST_F(Sha256FileTest, MissingFileOrFolderCannotBeOpened) {
    for (const std::wstring& path : {folder / L"missing.bin", folder.path()}) {
        try {
            Sha256FileHex(path, stop);
            ADD_FAILURE() << "no failure raised";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "cannot open downloaded file");
        }
    }
}

// A read that fails in mid-file (a pipe whose writer goes away after its first
// bytes) must never pass for the end of the file: a digest of half the bytes would
// look like a corrupt download.
TEST_F(Sha256FileTest, FailedReadIsAnErrorNotADigestOfWhatWasRead) {
    const std::wstring pipeName = L"\\\\.\\pipe\\orivanta-sha-" + NewGuidText();
    UniqueHandle pipe(::CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                         65536, 65536, 0, nullptr));
    ASSERT_TRUE(pipe);
    std::thread writer([&pipe] {
        ::ConnectNamedPipe(pipe.get(), nullptr);
        const std::string first(1000, 'x');
        DWORD written = 0;
        ::WriteFile(pipe.get(), first.data(), static_cast<DWORD>(first.size()), &written, nullptr);
        ::FlushFileBuffers(pipe.get());
        ::DisconnectNamedPipe(pipe.get());
    });
    try {
        const std::string digest = Sha256FileHex(pipeName, stop);
        ADD_FAILURE() << "a digest was returned: " << digest;
    } catch (const HashReadFailed& error) {  // which a reuse lookup takes for no match
        EXPECT_EQ(std::string(error.what()).rfind("读取文件失败：", 0), 0u) << error.what();
    }
    writer.join();
}

}  // namespace
}  // namespace orivanta
