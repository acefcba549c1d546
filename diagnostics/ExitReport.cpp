#include "diagnostics/ExitReport.h"

#include <windows.h>

#include <mutex>

#include "common/AtomicFile.h"
#include "common/Folders.h"
#include "common/Timestamp.h"
#include "common/Utf.h"
#include "net/NetworkErrorText.h"
#include "state/AppState.h"
#include "state/Edition.h"

namespace orivanta {
namespace {

const wchar_t* YesNo(bool value) { return value ? L"true" : L"false"; }

void AppendLine(std::wstring& text, const std::wstring& line) {
    text += line;
    text += L"\r\n";
}

void EmitToken(std::wstring& out, std::wstring& token) {
    if (token.empty()) return;
    const std::size_t equals = token.find(L'=');
    if (equals != std::wstring::npos) token = token.substr(0, equals) + L"=<已脱敏>";
    if (!out.empty()) out += L' ';
    out += token;
    token.clear();
}

ExitReportFacts GatherFacts(const ExitReportPlace& place, const std::wstring& stage, const ExitOutcome& outcome,
                            DWORD lastError) {
    AppState& app = App();
    ExitReportFacts facts;
    facts.timestamp = UtcTimestamp();
    facts.runId = place.runId;
    facts.processId = ::GetCurrentProcessId();
    facts.architecture = ORIVANTA_ARCH_TEXT;
    facts.outcome = outcome;
    facts.stage = stage;
    facts.redactedCommandLine = RedactedCommandLine();
    {
        std::lock_guard<std::mutex> guard(app.stateMutex);
        facts.edition = app.edition;
        facts.sessionId = app.sessionId;
        facts.packageId = app.packageId;
        facts.signatureCheck = app.signatureCheck;
    }
    facts.bytesDone = app.bytesDone.load();
    facts.bytesTotal = app.bytesTotal.load();
    facts.busy = app.busy.load();
    facts.cancelRequested = app.cancelRequested.load();
    facts.integrityPassed = app.integrityPassed.load();
    facts.installerLaunched = app.installerLaunched.load();
    facts.windowsNetworkReady = app.windowsNetworkReady.load();
    facts.centerResponded = app.centerResponded.load();
    facts.lastSystemError = NetworkErrorText(lastError);
    facts.reportRoot = place.reportRoot;
    return facts;
}

}  // namespace

std::wstring ComposeExitReport(const ExitReportFacts& facts) {
    const std::wstring sessionId = facts.sessionId.empty() ? std::wstring(L"未创建") : facts.sessionId;
    const std::wstring packageId = facts.packageId.empty() ? std::wstring(L"未知") : Utf8ToUtf16(facts.packageId);

    std::wstring text;
    AppendLine(text, L"欧瑞凡达安装助手 - 本地退出报告");
    AppendLine(text, L"");
    AppendLine(text, L"时间(UTC): " + facts.timestamp);
    AppendLine(text, L"会话: " + facts.runId);
    AppendLine(text, L"进程: " + std::to_wstring(facts.processId));
    AppendLine(text, L"架构: " + facts.architecture);
    AppendLine(text, L"分类: " + facts.outcome.classification);
    AppendLine(text, L"退出码: " + std::to_wstring(facts.outcome.exitCode));
    AppendLine(text, L"执行阶段: " + facts.stage);
    AppendLine(text, L"原因: " + facts.outcome.reason);
    AppendLine(text, L"人工处理: " + facts.outcome.manualAction);
    AppendLine(text, L"脱敏启动参数: " + facts.redactedCommandLine);
    AppendLine(text, std::wstring(L"下载类型: ") + EditionReportText(facts.edition));
    AppendLine(text, L"最后进度: " + std::to_wstring(facts.bytesDone) + L" / " + std::to_wstring(facts.bytesTotal) +
                         L" 字节");
    AppendLine(text, std::wstring(L"稳定代码位置: ") +
                         (facts.busy ? L"OrivantaInstaller::Worker" : L"OrivantaInstaller::wWinMain/process-boundary"));
    AppendLine(text, std::wstring(L"关键状态: busy=") + YesNo(facts.busy) + L", cancelRequested=" +
                         YesNo(facts.cancelRequested) + L", integrityPassed=" + YesNo(facts.integrityPassed) +
                         L", installerLaunched=" + YesNo(facts.installerLaunched));
    AppendLine(text, L"数据标识: sessionId=" + sessionId + L", packageId=" + packageId);
    AppendLine(text, std::wstring(L"依赖状态: WindowsNetwork=") + (facts.windowsNetworkReady ? L"已初始化" : L"未初始化") +
                         L", CenterApi=" + (facts.centerResponded ? L"已收到响应" : L"尚未收到响应"));
    AppendLine(text, L"最后成功检查点: " + facts.stage);
    AppendLine(text, L"最后系统错误: " + facts.lastSystemError);
    if (!facts.outcome.exceptionChain.empty()) AppendLine(text, L"异常链: " + facts.outcome.exceptionChain);
    // Lines 1-20 are fixed for the readers of earlier reports; the program's own lines follow them.
    if (!facts.signatureCheck.empty()) AppendLine(text, L"签名校验: " + facts.signatureCheck);
    AppendLine(text, L"安全复现: 使用相同版本类型重新打开程序；续传会复用既有下载会话，不增加下载次数。");
    AppendLine(text, L"证据路径: " + facts.reportRoot);
    return text;
}

std::wstring RedactCommandLine(const std::wstring& commandLine) {
    std::wstring out;
    std::wstring token;
    bool insideQuotes = false;
    for (const wchar_t c : commandLine) {
        if (c == L'"') {
            insideQuotes = !insideQuotes;
            token += c;
        } else if ((c == L' ' || c == L'\t') && !insideQuotes) {
            EmitToken(out, token);
        } else {
            token += c;
        }
    }
    EmitToken(out, token);
    return out;
}

std::wstring RedactedCommandLine() { return RedactCommandLine(::GetCommandLineW()); }

void WriteExitReport(const ExitReportPlace& place, const std::wstring& stage, const ExitOutcome& outcome) {
    // The last error is the one the run left behind, so it is read before any call of our own.
    const DWORD lastError = ::GetLastError();
    const std::wstring text = ComposeExitReport(GatherFacts(place, stage, outcome, lastError));

    const bool stored = WriteFileAtomically(place.reportRoot + L"\\exit-" + place.runId + L".txt", text) &&
                        WriteFileAtomically(place.reportRoot + L"\\latest-exit.txt", text);
    if (stored) return;
    const std::wstring fallback = FallbackReportRoot(place.localAppData());
    EnsureDirectory(fallback);
    WriteFileAtomically(fallback + L"\\latest-exit.txt", text);
}

}  // namespace orivanta
