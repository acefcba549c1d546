#include <gtest/gtest.h>

#include "DiagnosticsTestSupport.h"
#include "diagnostics/ExitReport.h"

namespace orivanta::test {
namespace {

ExitReportFacts BusyRunFacts() {
    ExitReportFacts facts;
    facts.timestamp = L"2027-01-03T09:05:07.004Z";
    facts.runId = L"0F8FAD5B-D9CB-469F-A165-70867728950E";
    facts.processId = 4294967295UL;
    facts.architecture = L"x64";
    facts.outcome = {L"UnhandledException", 4, L"自动化下载验收未完成。",
                     L"请检查中心接口、下载节点、磁盘与 SHA-256 校验结果后重试。",
                     L"下载中断：连接被重置 (12030) -> center connection failed"};
    facts.stage = L"从阿里云 OSS 下载安装包";
    facts.redactedCommandLine = L"\"C:\\Program Files\\x.exe\" --server-url=<已脱敏>";
    facts.edition = Edition::Server;
    facts.bytesDone = 5368709120LL;
    facts.bytesTotal = 9000000000LL;
    facts.busy = true;
    facts.cancelRequested = true;
    facts.integrityPassed = true;
    facts.installerLaunched = true;
    facts.sessionId = L"3F2504E0-4F89-11D3-9A0C-0305E82C3301";
    facts.packageId = "pkg-\xE6\xAC\xA7-7";  // "pkg-欧-7" in UTF-8
    facts.signatureCheck = L"通过（WinVerifyTrust 0x00000000，签名者：CN=Orivanta）";
    facts.windowsNetworkReady = true;
    facts.centerResponded = true;
    facts.lastSystemError = L"The operation completed successfully. (0)";
    facts.reportRoot = L"C:\\Users\\u\\AppData\\Local\\Orivanta\\InstallerDownloader\\process-exit";
    return facts;
}

TEST(ExitReportComposition, PrintsEveryLineInOrderWithCrLf) {
    const std::wstring expected =
        L"欧瑞凡达安装助手 - 本地退出报告\r\n"
        L"\r\n"
        L"时间(UTC): 2027-01-03T09:05:07.004Z\r\n"
        L"会话: 0F8FAD5B-D9CB-469F-A165-70867728950E\r\n"
        L"进程: 4294967295\r\n"
        L"架构: x64\r\n"
        L"分类: UnhandledException\r\n"
        L"退出码: 4\r\n"
        L"执行阶段: 从阿里云 OSS 下载安装包\r\n"
        L"原因: 自动化下载验收未完成。\r\n"
        L"人工处理: 请检查中心接口、下载节点、磁盘与 SHA-256 校验结果后重试。\r\n"
        L"脱敏启动参数: \"C:\\Program Files\\x.exe\" --server-url=<已脱敏>\r\n"
        L"下载类型: 服务端版\r\n"
        L"最后进度: 5368709120 / 9000000000 字节\r\n"
        L"稳定代码位置: OrivantaInstaller::Worker\r\n"
        L"关键状态: busy=true, cancelRequested=true, integrityPassed=true, installerLaunched=true\r\n"
        L"数据标识: sessionId=3F2504E0-4F89-11D3-9A0C-0305E82C3301, packageId=pkg-欧-7\r\n"
        L"依赖状态: WindowsNetwork=已初始化, CenterApi=已收到响应\r\n"
        L"最后成功检查点: 从阿里云 OSS 下载安装包\r\n"
        L"最后系统错误: The operation completed successfully. (0)\r\n"
        L"异常链: 下载中断：连接被重置 (12030) -> center connection failed\r\n"
        L"签名校验: 通过（WinVerifyTrust 0x00000000，签名者：CN=Orivanta）\r\n"
        L"安全复现: 使用相同版本类型重新打开程序；续传会复用既有下载会话，不增加下载次数。\r\n"
        L"证据路径: C:\\Users\\u\\AppData\\Local\\Orivanta\\InstallerDownloader\\process-exit\r\n";
    EXPECT_EQ(ComposeExitReport(BusyRunFacts()), expected);
}

TEST(ExitReportComposition, FreshRunPrintsPlaceholdersAndNoChainLine) {
    ExitReportFacts facts = BusyRunFacts();
    facts.outcome = {L"ControlledStop", 0, L"程序窗口已正常关闭。", L"无需处理；未完成文件已保留，可再次打开继续下载。", L""};
    facts.edition = Edition::None;
    facts.bytesDone = 0;
    facts.bytesTotal = 0;
    facts.busy = facts.cancelRequested = facts.integrityPassed = facts.installerLaunched = false;
    facts.sessionId.clear();
    facts.packageId.clear();
    facts.windowsNetworkReady = facts.centerResponded = false;

    const std::vector<std::wstring> lines = SplitCrLfLines(ComposeExitReport(facts));
    ASSERT_EQ(lines.size(), 23u);  // one line fewer than with a chain
    EXPECT_EQ(lines[6], L"分类: ControlledStop");
    EXPECT_EQ(lines[7], L"退出码: 0");
    EXPECT_EQ(lines[12], L"下载类型: 尚未选择");
    EXPECT_EQ(lines[13], L"最后进度: 0 / 0 字节");
    EXPECT_EQ(lines[14], L"稳定代码位置: OrivantaInstaller::wWinMain/process-boundary");
    EXPECT_EQ(lines[15], L"关键状态: busy=false, cancelRequested=false, integrityPassed=false, installerLaunched=false");
    EXPECT_EQ(lines[16], L"数据标识: sessionId=未创建, packageId=未知");
    // Lines 18-20 stay where earlier reports had them; the signature follows them.
    EXPECT_EQ(lines[17], L"依赖状态: WindowsNetwork=未初始化, CenterApi=尚未收到响应");
    EXPECT_EQ(lines[18], L"最后成功检查点: 从阿里云 OSS 下载安装包");
    EXPECT_EQ(lines[19], L"最后系统错误: The operation completed successfully. (0)");
    EXPECT_EQ(lines[20], L"签名校验: 通过（WinVerifyTrust 0x00000000，签名者：CN=Orivanta）");
    EXPECT_EQ(lines[21], L"安全复现: 使用相同版本类型重新打开程序；续传会复用既有下载会话，不增加下载次数。");
    for (const std::wstring& line : lines) EXPECT_NE(line.rfind(L"异常链", 0), 0u) << "unexpected chain line";
}

TEST(ExitReportComposition, EditionNamesAndSignedNumbers) {
    ExitReportFacts facts = BusyRunFacts();
    facts.edition = Edition::Client;
    facts.outcome.exitCode = -1;
    facts.bytesDone = -5;
    const std::vector<std::wstring> client = SplitCrLfLines(ComposeExitReport(facts));
    EXPECT_EQ(client[12], L"下载类型: 仅客户端版");
    EXPECT_EQ(client[7], L"退出码: -1");
    EXPECT_EQ(client[13], L"最后进度: -5 / 9000000000 字节");

    facts.edition = static_cast<Edition>(7);
    facts.outcome.exitCode = -2147483647 - 1;
    const std::vector<std::wstring> other = SplitCrLfLines(ComposeExitReport(facts));
    EXPECT_EQ(other[12], L"下载类型: 尚未选择");
    EXPECT_EQ(other[7], L"退出码: -2147483648");
}

TEST(CommandLineRedaction, MasksValuesAndKeepsQuotedPath) {
    EXPECT_EQ(RedactCommandLine(L"\"C:\\Program Files\\Orivanta\\OrivantaInstaller.exe\" --server-url=x --diagnostic-test"),
              L"\"C:\\Program Files\\Orivanta\\OrivantaInstaller.exe\" --server-url=<已脱敏> --diagnostic-test");
    EXPECT_EQ(RedactCommandLine(L"a.exe --k=v=w --empty="), L"a.exe --k=<已脱敏> --empty=<已脱敏>");
}

TEST(CommandLineRedaction, CollapsesBlanksAndTabsOutsideQuotes) {
    EXPECT_EQ(RedactCommandLine(L"  a.exe \t  --x=1\t\t--y   z \t"), L"a.exe --x=<已脱敏> --y z");
    EXPECT_EQ(RedactCommandLine(L"a.exe \"two  words\t here\""), L"a.exe \"two  words\t here\"");
    EXPECT_EQ(RedactCommandLine(L""), L"");
    EXPECT_EQ(RedactCommandLine(L" \t "), L"");
}

TEST(CommandLineRedaction, QuotedValueLosesItsClosingQuote) {
    EXPECT_EQ(RedactCommandLine(L"a.exe \"--diagnostic-data-root=C:\\My Data\" next"),
              L"a.exe \"--diagnostic-data-root=<已脱敏> next");
    // An unterminated quote keeps the rest of the line in one token.
    EXPECT_EQ(RedactCommandLine(L"a.exe --k=\"v w  x"), L"a.exe --k=<已脱敏>");
}

TEST(CommandLineRedaction, ValueAsSeparateTokenStaysVisible) {
    EXPECT_EQ(RedactCommandLine(L"a.exe --server-url http://h/"), L"a.exe --server-url http://h/");
}

}  // namespace
}  // namespace orivanta::test
