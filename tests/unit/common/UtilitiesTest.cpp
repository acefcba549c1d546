#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <stdexcept>

#include "TestFiles.h"
#include "common/AtomicFile.h"
#include "common/Folders.h"
#include "common/GuidText.h"
#include "common/PathChecks.h"
#include "common/ProxyChoice.h"
#include "common/SmallTextFile.h"
#include "common/SystemErrorText.h"
#include "common/Timestamp.h"
#include "common/Utf.h"

namespace orivanta {
namespace {

TEST(Timestamp, EveryFieldIsZeroFilledToItsWidth) {
    SYSTEMTIME time{};
    time.wYear = 2027;
    time.wMonth = 1;
    time.wDay = 3;
    time.wHour = 9;
    time.wMinute = 5;
    time.wSecond = 7;
    time.wMilliseconds = 4;
    EXPECT_EQ(FormatUtcTimestamp(time), L"2027-01-03T09:05:07.004Z");
}

TEST(Timestamp, CurrentTimeHasTheFixedShape) {
    const std::string now = Utf16ToUtf8(UtcTimestamp());
    EXPECT_TRUE(std::regex_match(now, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)"))) << now;
}

TEST(Utf, RoundTripsChineseAndAstralCharacters) {
    const std::wstring text = L"欧瑞凡达 \U0001F600 a";
    const std::string bytes = Utf16ToUtf8(text);
    EXPECT_EQ(bytes, "\xE6\xAC\xA7\xE7\x91\x9E\xE5\x87\xA1\xE8\xBE\xBE \xF0\x9F\x98\x80 a");
    EXPECT_EQ(Utf8ToUtf16(bytes), text);
    EXPECT_EQ(Utf16ToUtf8(L""), "");
    EXPECT_EQ(Utf8ToUtf16(""), L"");
}

TEST(Utf, AnyInvalidSequenceGivesAnEmptyText) {
    EXPECT_EQ(Utf8ToUtf16("abc\x80" "def"), L"");  // stray continuation byte
    EXPECT_EQ(Utf8ToUtf16("abc\xE6\xAC"), L"");     // truncated sequence at the end
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), L"");        // overlong encoding
}

TEST(SystemErrorText, TrailingLineBreaksGoButAFullStopStays) {
    EXPECT_EQ(ComposeSystemErrorText(L"Access is denied.\r\n", 5), L"Access is denied. (5)");
    EXPECT_EQ(ComposeSystemErrorText(L"x\n", 1), L"x (1)");
    EXPECT_EQ(ComposeSystemErrorText(L"x\r\r\n", 1), L"x (1)");
    EXPECT_EQ(ComposeSystemErrorText(L"x \r\n", 1), L"x  (1)");
    EXPECT_EQ(ComposeSystemErrorText(L"", 1234), L"未知系统错误 (1234)");
}

TEST(SystemErrorText, UsesTheSystemMessageAndTheUnsignedCode) {
    const std::wstring text = SystemErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_GT(text.size(), 4u);
    EXPECT_EQ(text.substr(text.size() - 4), L" (2)");
    EXPECT_EQ(text.find(L'\n'), std::wstring::npos);
    const std::wstring unknown = SystemErrorText(0xE0001234u);
    EXPECT_EQ(unknown, L"未知系统错误 (3758101044)");
}

TEST(SystemErrorText, NetworkFailuresAClinicMeetsReadAsChineseSentencesWithTheirCode) {
    EXPECT_EQ(SystemErrorText(ERROR_WINHTTP_TIMEOUT), L"网络请求超时 (12002)");
    EXPECT_EQ(SystemErrorText(ERROR_WINHTTP_NAME_NOT_RESOLVED), L"无法解析服务器名称 (12007)");
    EXPECT_EQ(SystemErrorText(ERROR_WINHTTP_CANNOT_CONNECT), L"无法连接到服务器 (12029)");
    EXPECT_EQ(SystemErrorText(ERROR_WINHTTP_SECURE_INVALID_CA), L"服务器证书的颁发机构不受信任 (12045)");
    EXPECT_EQ(SystemErrorText(ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT), L"代理自动配置脚本有误 (12166)");
    EXPECT_EQ(SystemErrorText(ERROR_WINHTTP_REDIRECT_FAILED), L"服务器重定向失败 (12156)");
    // Any other WinHTTP code keeps the module's text, or today's when it has none (as under Wine).
    const std::wstring other = SystemErrorText(ERROR_WINHTTP_HEADER_NOT_FOUND);
    EXPECT_EQ(other.substr(other.size() - 8), L" (12150)");
}

// A discovery stand-in that records whether it was asked and answers as told.
struct FakeDiscovery {
    bool succeeds = false;
    int calls = 0;
    ProxyDiscovery Get() {
        return [this](const std::wstring&, const UserProxySettings&, ProxyChoice& choice) {
            ++calls;
            if (succeeds) {
                choice.accessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
                choice.proxy = L"pac-proxy:3128";
            }
            return succeeds;
        };
    }
};

// The elevated account's credentials go only to a proxy that settings name.
TEST(ProxyChoice, DiscoveryFirstThenTheNamedProxyThenDirect) {
    const std::wstring url = L"https://www.orivanta.cn/support-center";
    FakeDiscovery discovery;
    const ProxyChoice direct = ChooseProxy(url, {}, discovery.Get());
    EXPECT_EQ(direct.accessType, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY);
    EXPECT_FALSE(MayAnswerProxyLogon(direct)) << "no proxy is named";
    EXPECT_EQ(discovery.calls, 0) << "nothing set: no discovery, today's direct session";

    UserProxySettings named;
    named.proxy = L"10.1.1.1:8080";
    named.bypass = L"*.clinic.local;<local>";
    ProxyChoice choice = ChooseProxy(url, named, discovery.Get());
    EXPECT_EQ(choice.accessType, WINHTTP_ACCESS_TYPE_NAMED_PROXY);
    EXPECT_EQ(choice.proxy, L"10.1.1.1:8080");
    EXPECT_EQ(choice.bypass, L"*.clinic.local;<local>");
    EXPECT_TRUE(MayAnswerProxyLogon(choice));
    EXPECT_EQ(discovery.calls, 0);

    UserProxySettings automatic = named;
    automatic.autoConfigUrl = L"http://wpad.clinic.local/proxy.pac";
    discovery.succeeds = true;
    choice = ChooseProxy(url, automatic, discovery.Get());
    EXPECT_EQ(choice.proxy, L"pac-proxy:3128");
    EXPECT_FALSE(MayAnswerProxyLogon(choice)) << "whoever serves the script named it";
    discovery.succeeds = false;
    choice = ChooseProxy(url, automatic, discovery.Get());
    EXPECT_EQ(choice.proxy, L"10.1.1.1:8080") << "a failed script";
    EXPECT_TRUE(MayAnswerProxyLogon(choice));
    UserProxySettings detectOnly;
    detectOnly.autoDetect = true;
    detectOnly.machineProxy = true;
    choice = ChooseProxy(url, detectOnly, discovery.Get());
    EXPECT_EQ(choice.accessType, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY)
        << "failed detection without a named proxy: the machine-wide setting";
    EXPECT_TRUE(MayAnswerProxyLogon(choice)) << "netsh winhttp set proxy names it";
    discovery.succeeds = true;
    EXPECT_FALSE(MayAnswerProxyLogon(ChooseProxy(url, detectOnly, discovery.Get()))) << "found by detection";
    EXPECT_EQ(discovery.calls, 4);
}

TEST(GuidText, ThirtySixUpperCaseCharactersWithoutBraces) {
    const std::wstring first = NewGuidText();
    const std::string text = Utf16ToUtf8(first);
    EXPECT_TRUE(std::regex_match(text, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
        << text;
    EXPECT_NE(first, NewGuidText());
}

TEST(Folders, KnownFolderHasNoTrailingBackslash) {
    const std::wstring folder = KnownFolderPath(0x001c /* CSIDL_LOCAL_APPDATA */);
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), L'\\');
    EXPECT_TRUE(test::DirectoryExists(folder));
}

TEST(Folders, EnsureDirectoryCreatesParentsAndAcceptsExistingPaths) {
    test::TempFolder root(L"folders");
    const std::wstring deep = root / L"一\\二\\三";
    EnsureDirectory(deep);
    EXPECT_TRUE(test::DirectoryExists(deep));
    EXPECT_NO_THROW(EnsureDirectory(deep));
    // An existing file of that name passes too; the later write into it fails instead.
    test::WriteBytes(root / L"file", "x");
    EXPECT_NO_THROW(EnsureDirectory(root / L"file"));
}

TEST(Folders, InvalidDriveRaisesCreateDirectoryFailed) {
    try {
        EnsureDirectory(L"?:\\invalid\\process-exit");
        ADD_FAILURE() << "no failure raised";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "create directory failed");
    }
}

TEST(PathChecks, OnlyPlainDrivePathsPass) {
    EXPECT_TRUE(IsPlainDrivePath(L"D:\\欧瑞凡达安装包\\Setup (1).exe"));
    EXPECT_TRUE(IsPlainDrivePath(L"c:\\a"));
    for (const wchar_t* path :
         {L"\\\\server\\share\\a.exe", L"\\\\?\\C:\\a.exe", L"\\\\.\\C:\\a.exe", L"\\??\\C:\\a.exe", L"C:a.exe",
          L"C:\\", L"C:\\a\\..\\b.exe", L"C:\\a\\.\\b.exe", L"C:\\a\\\\b.exe", L"C:\\a\\", L"C:/a/b.exe",
          L"C:\\a.exe:stream", L"C:\\a*.exe", L"C:\\a\\...\\b.exe", L"C:\\a \\b.exe", L"a.exe", L""}) {
        EXPECT_FALSE(IsPlainDrivePath(path)) << path;
    }
}

TEST(PathChecks, LocalFixedDrivesOnlyAndNoReparsePointOnTheWay) {
    test::TempFolder folder(L"paths");
    EXPECT_TRUE(IsOnLocalFixedDrive(folder.path()));
    const DWORD drives = ::GetLogicalDrives();
    wchar_t unused = L'Y';
    while (unused > L'D' && (drives & (1u << (unused - L'A')))) --unused;
    EXPECT_FALSE(IsOnLocalFixedDrive(std::wstring(1, unused) + L":\\a.exe")) << "no volume behind the letter";

    EnsureDirectory(folder / L"real");
    test::WriteBytes(folder / L"real\\a.exe", "a");
    ASSERT_TRUE(test::MakeUnixSymbolicLink(folder / L"link", folder / L"real"));
    EXPECT_TRUE(ExistsWithoutReparsePoint(folder / L"real\\a.exe"));
    EXPECT_FALSE(ExistsWithoutReparsePoint(folder / L"real\\missing.exe"));
    EXPECT_FALSE(ExistsWithoutReparsePoint(folder / L"link\\a.exe")) << "a.exe is reached through the link";
    EXPECT_TRUE(IsReparsePoint(folder / L"link"));
    EXPECT_FALSE(IsReparsePoint(folder / L"real"));
}

TEST(AtomicFile, WritesUtf8WithoutBomAndLeavesNoTemporaryFile) {
    test::TempFolder root(L"atomic");
    const std::wstring target = root / L"latest-exit.txt";
    ASSERT_TRUE(WriteFileAtomically(target, L"会话: 1\r\n"));
    EXPECT_EQ(test::ReadBytes(target), "\xE4\xBC\x9A\xE8\xAF\x9D: 1\r\n");
    ASSERT_TRUE(WriteFileAtomically(target, L"second"));
    EXPECT_EQ(test::ReadBytes(target), "second");
    EXPECT_EQ(test::CountFilesMatching(root.path(), L"*.tmp"), 0);
    EXPECT_EQ(test::CountFilesMatching(root.path(), L"*"), 1);
}

TEST(AtomicFile, EmptyContentGivesAZeroByteFile) {
    test::TempFolder root(L"atomic");
    ASSERT_TRUE(WriteFileAtomically(root / L"empty.txt", L""));
    EXPECT_TRUE(test::FileExists(root / L"empty.txt"));
    EXPECT_EQ(test::ReadBytes(root / L"empty.txt"), "");
}

TEST(AtomicFile, MissingFolderFailsAndLeavesNothing) {
    test::TempFolder root(L"atomic");
    EXPECT_FALSE(WriteFileAtomically(root / L"missing\\x.txt", L"data"));
    EXPECT_FALSE(test::DirectoryExists(root / L"missing"));
    EXPECT_EQ(test::CountFilesMatching(root.path(), L"*"), 0);
}

TEST(AtomicFile, FailedMoveKeepsTheTargetAndRemovesTheTemporaryFile) {
    test::TempFolder root(L"atomic");
    // A folder standing at the target's name cannot be replaced by a file.
    const std::wstring target = root / L"report.txt";
    EnsureDirectory(target);
    EXPECT_FALSE(WriteFileAtomically(target, L"data"));
    EXPECT_TRUE(test::DirectoryExists(target));
    EXPECT_EQ(test::CountFilesMatching(root.path(), L"*.tmp"), 0);
}

// The temporary file's name is predictable: a link put there beforehand leads nowhere.
TEST(AtomicFile, LinkAtTheTemporaryNameIsNeitherFollowedNorTouched) {
    test::TempFolder root(L"atomic");
    test::TempFolder elsewhere(L"atomic-elsewhere");
    const std::wstring target = root / L"device-id.txt";
    const std::wstring planted = target + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    test::WriteBytes(elsewhere / L"victim.dll", "someone else's");
    ASSERT_TRUE(test::MakeUnixSymbolicLink(planted, elsewhere / L"victim.dll"));
    EXPECT_TRUE(WriteFileAtomically(target, L"identity"));
    EXPECT_EQ(test::ReadBytes(elsewhere / L"victim.dll"), "someone else's");
    EXPECT_TRUE(test::FileExists(planted)) << "the link stays as it was";
    test::RemoveUnixSymbolicLink(planted);
    EXPECT_EQ(test::ReadBytes(target), "identity");
    EXPECT_EQ(test::CountFilesMatching(root.path(), L"*.tmp"), 0);
}

TEST(SmallTextFile, ReadsUpTo4096BytesOfValidUtf8Only) {
    test::TempFolder root(L"small");
    test::WriteBytes(root / L"ok.txt", "abc\r\n");
    EXPECT_EQ(ReadSmallTextFile(root / L"ok.txt"), L"abc\r\n");
    test::WriteBytes(root / L"limit.txt", std::string(4096, 'a'));
    EXPECT_EQ(ReadSmallTextFile(root / L"limit.txt").size(), 4096u);
    test::WriteBytes(root / L"big.txt", std::string(4097, 'a'));
    EXPECT_EQ(ReadSmallTextFile(root / L"big.txt"), L"");
    test::WriteBytes(root / L"bad.txt", "ab\xFF");
    EXPECT_EQ(ReadSmallTextFile(root / L"bad.txt"), L"");
    EXPECT_EQ(ReadSmallTextFile(root / L"missing.txt"), L"");
    EXPECT_EQ(TrimTrailingWhitespace(L" x \t\r\n \n"), L" x");
}

}  // namespace
}  // namespace orivanta
