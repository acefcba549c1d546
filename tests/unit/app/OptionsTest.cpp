#include <gtest/gtest.h>

#include <stdexcept>

#include "AppStateReset.h"
#include "TestFiles.h"
#include "app/Options.h"
#include "state/AppState.h"

namespace orivanta {
namespace {

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override { test::ResetAppState(); }
    void TearDown() override { test::ResetAppState(); }
};

TEST_F(OptionsTest, ValueIsEverythingAfterTheFirstEqualsSignOfTheLastMatch) {
    const std::wstring line = L"prog.exe --diagnostic-test=normal --other=1 --diagnostic-test=hold=2";
    EXPECT_EQ(ReadCommandLineOption(line, L"--diagnostic-test"), L"hold=2");
    EXPECT_EQ(ReadCommandLineOption(line, L"--other"), L"1");
    EXPECT_EQ(ReadCommandLineOption(line, L"--missing"), L"");
}

TEST_F(OptionsTest, NameWithoutEqualsSignOrAsSeparateArgumentIsNotRecognised) {
    EXPECT_EQ(ReadCommandLineOption(L"prog.exe --server-url http://x", L"--server-url"), L"");
    EXPECT_EQ(ReadCommandLineOption(L"prog.exe --server-url", L"--server-url"), L"");
    EXPECT_EQ(ReadCommandLineOption(L"prog.exe --Server-Url=http://x", L"--server-url"), L"");
    // The program name itself is never an option, even when it looks like one.
    EXPECT_EQ(ReadCommandLineOption(L"--server-url=http://x", L"--server-url"), L"");
}

TEST_F(OptionsTest, QuotedArgumentsFollowTheWindowsSplittingRules) {
    const std::wstring line = L"\"C:\\Program Files\\a.exe\" \"--diagnostic-data-root=C:\\My Data\\x\"";
    EXPECT_EQ(ReadCommandLineOption(line, L"--diagnostic-data-root"), L"C:\\My Data\\x");
}

TEST_F(OptionsTest, ServerUrlLosesEveryTrailingSlash) {
    ApplyServerUrlOption(L"prog.exe --server-url=http://127.0.0.1:8080/support-center///");
    EXPECT_EQ(App().centerBaseUrl, L"http://127.0.0.1:8080/support-center");
    ApplyServerUrlOption(L"prog.exe --server-url=https://center.example/");
    EXPECT_EQ(App().centerBaseUrl, L"https://center.example");
}

TEST_F(OptionsTest, ServerUrlWithOtherSchemeIsRefusedAndEmptyKeepsTheDefault) {
    for (const wchar_t* line : {L"prog.exe --server-url=HTTP://x", L"prog.exe --server-url=ftp://x",
                                L"prog.exe --server-url=http:/x", L"prog.exe --server-url=x"}) {
        try {
            ApplyServerUrlOption(line);
            ADD_FAILURE() << "accepted: " << testing::PrintToString(std::wstring(line));
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "server URL must use HTTP or HTTPS");
        }
    }
    ApplyServerUrlOption(L"prog.exe --server-url=");
    EXPECT_EQ(App().centerBaseUrl, kDefaultCenterBaseUrl);
}

TEST_F(OptionsTest, AutostartSelectsClientOnlyForTheExactWordClient) {
    ReadDiagnosticOptions(L"prog.exe --diagnostic-autostart=client");
    EXPECT_TRUE(App().autoStart);
    EXPECT_TRUE(App().diagnosticMode);
    EXPECT_EQ(App().edition, Edition::Client);

    test::ResetAppState();
    ReadDiagnosticOptions(L"prog.exe --diagnostic-autostart=Client");
    EXPECT_EQ(App().edition, Edition::Server);

    test::ResetAppState();
    ReadDiagnosticOptions(L"prog.exe --diagnostic-autostart=");
    EXPECT_FALSE(App().autoStart);
    EXPECT_FALSE(App().diagnosticMode);
    EXPECT_EQ(App().edition, Edition::None);
}

TEST_F(OptionsTest, DiagnosticOptionsReturnTestAndLanValuesAndSwitchDiagnosticModeOn) {
    const DiagnosticOptions options =
        ReadDiagnosticOptions(L"prog.exe --diagnostic-test=early-error --diagnostic-test=normal --diagnostic-lan=none");
    EXPECT_EQ(options.test, L"normal");
    EXPECT_EQ(options.lan, L"none");
    EXPECT_TRUE(App().diagnosticMode);
    EXPECT_FALSE(App().autoStart);

    test::ResetAppState();
    ReadDiagnosticOptions(L"prog.exe --diagnostic-lan=10.0.0.5");
    EXPECT_TRUE(App().diagnosticMode);
    test::ResetAppState();
    EXPECT_FALSE(ReadDiagnosticOptions(L"prog.exe").test.size());
    EXPECT_FALSE(App().diagnosticMode);
}

TEST_F(OptionsTest, DataRootIsStoredAndCreatedWithItsParents) {
    test::TempFolder folder(L"options");
    const std::wstring root = folder / L"a\\b\\c";
    ReadDiagnosticOptions(L"prog.exe \"--diagnostic-data-root=" + root + L"\"");
    EXPECT_EQ(App().diagnosticDataRoot, root);
    EXPECT_TRUE(App().diagnosticMode);
    EXPECT_TRUE(test::DirectoryExists(root));
}

TEST_F(OptionsTest, DataRootThatCannotBeCreatedRaises) {
    try {
        ReadDiagnosticOptions(L"prog.exe --diagnostic-data-root=?:\\nowhere");
        ADD_FAILURE() << "no failure raised";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "create directory failed");
    }
}

TEST_F(OptionsTest, SimulatedLanNoneLeavesEditionAndTextsAlone) {
    ApplySimulatedLanResult(L"none");
    const DisplaySnapshot snapshot = ReadDisplaySnapshot();
    EXPECT_EQ(snapshot.lanState, LanState::NoHost);
    EXPECT_EQ(snapshot.lanHostText, L"");
    EXPECT_EQ(snapshot.edition, Edition::None);
    EXPECT_EQ(snapshot.statusText, L"准备就绪");
    EXPECT_EQ(snapshot.detailText, L"请选择适合您的版本");
}

TEST_F(OptionsTest, SimulatedLanHostRecommendsClientOnlyUnlessAutostart) {
    ApplySimulatedLanResult(L"192.168.1.20");
    DisplaySnapshot snapshot = ReadDisplaySnapshot();
    EXPECT_EQ(snapshot.lanState, LanState::HostFound);
    EXPECT_EQ(snapshot.lanHostText, L"192.168.1.20");
    EXPECT_EQ(snapshot.edition, Edition::Client);
    EXPECT_EQ(snapshot.statusText, L"已根据局域网检测推荐仅客户端版");
    EXPECT_EQ(snapshot.detailText, L"仅客户端版 · 已发现主机 192.168.1.20:9009");

    test::ResetAppState();
    ReadDiagnosticOptions(L"prog.exe --diagnostic-autostart=server");
    ApplySimulatedLanResult(L"192.168.1.20");
    snapshot = ReadDisplaySnapshot();
    EXPECT_EQ(snapshot.lanState, LanState::HostFound);
    EXPECT_EQ(snapshot.edition, Edition::Server);
    EXPECT_EQ(snapshot.statusText, L"准备就绪");
}

TEST_F(OptionsTest, EmptySimulatedLanValueDoesNothing) {
    ApplySimulatedLanResult(L"");
    EXPECT_EQ(ReadDisplaySnapshot().lanState, LanState::Checking);
}

}  // namespace
}  // namespace orivanta
