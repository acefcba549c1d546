#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "AppStateReset.h"
#include "DiagnosticsTestSupport.h"
#include "app/DiagnosticTests.h"
#include "app/FatalError.h"
#include "common/ExceptionChain.h"
#include "diagnostics/RunDiagnostics.h"
#include "state/AppState.h"

namespace orivanta::test {
namespace {

std::exception_ptr Nested(const char* outer, std::exception_ptr cause) {
    try {
        std::rethrow_exception(cause);
    } catch (...) {
        try {
            std::throw_with_nested(std::runtime_error(outer));
        } catch (...) {
            return std::current_exception();
        }
    }
    return nullptr;
}

std::wstring ChainOf(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& caught) {
        return ExceptionChain(caught);
    }
}

TEST(ExceptionChain, FollowsOneLevelOfStandardCauses) {
    const auto inner = std::make_exception_ptr(std::runtime_error("inner diagnostic failure"));
    EXPECT_EQ(ChainOf(inner), L"inner diagnostic failure");
    EXPECT_EQ(ChainOf(Nested("outer diagnostic context", inner)), L"outer diagnostic context -> inner diagnostic failure");
    EXPECT_EQ(ChainOf(Nested("top", Nested("middle", inner))), L"top -> middle");
    EXPECT_EQ(ChainOf(Nested("top", std::make_exception_ptr(42))), L"top");
    EXPECT_EQ(ChainOf(Nested("\xE4\xB8\xAD\xE5\xBF\x83", inner)), L"中心 -> inner diagnostic failure");
}

TEST(ExceptionChain, NestingWithoutACauseIsJustTheMessage) {
    std::exception_ptr failure;
    try {
        std::throw_with_nested(std::runtime_error("outer only"));  // no exception being handled
    } catch (...) {
        failure = std::current_exception();
    }
    EXPECT_EQ(ChainOf(failure), L"outer only");
}

class FatalHandlerTest : public DiagnosticsTest {
protected:
    void SetUp() override {
        DiagnosticsTest::SetUp();
        App().diagnostics = std::make_unique<RunDiagnostics>(LocalAppData());
    }
    std::vector<std::wstring> LatestReport() { return SplitCrLfLines(ReadText(NormalRoot() + L"\\latest-exit.txt")); }
};

TEST_F(FatalHandlerTest, StandardFailureReportsItsChainAndExitCodeTwo) {
    try {
        RunDiagnosticTest(L"nested-error");
        FAIL() << "nested-error did not raise";
    } catch (const std::exception& failure) {
        EXPECT_EQ(HandleFatalException(failure), 2);
    }
    const std::vector<std::wstring> lines = LatestReport();
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_EQ(lines[6], L"分类: UnhandledException");
    EXPECT_EQ(lines[7], L"退出码: 2");
    EXPECT_EQ(lines[9], L"原因: 安装助手在启动或运行阶段遇到可捕获异常，未继续执行。");
    EXPECT_EQ(lines[10], L"人工处理: 请根据异常链修复网络、磁盘或中心配置后重试；如持续出现，请把本地退出报告交给技术支持。");
    EXPECT_EQ(lines[20], L"异常链: outer diagnostic context -> inner diagnostic failure");
    EXPECT_TRUE(InstalledDiagnostics().finished());
}

TEST_F(FatalHandlerTest, OtherFailureReportsFixedChain) {
    EXPECT_EQ(HandleUnknownException(), 2);
    const std::vector<std::wstring> lines = LatestReport();
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_EQ(lines[6], L"分类: UnhandledException");
    EXPECT_EQ(lines[9], L"原因: 安装助手遇到未知异常，未继续执行。");
    EXPECT_EQ(lines[10], L"人工处理: 请把本地退出报告交给技术支持。");
    EXPECT_EQ(lines[20], L"异常链: 非标准 C++ 异常");
}

TEST_F(FatalHandlerTest, EarlierReportStands) {
    RunDiagnosticTest(L"normal", 0);
    try {
        RunDiagnosticTest(L"early-error");
        FAIL() << "early-error did not raise";
    } catch (const std::exception& failure) {
        EXPECT_STREQ(failure.what(), "diagnostic early initialization failure");
        EXPECT_EQ(HandleFatalException(failure), 2);
    }
    EXPECT_EQ(LatestReport()[6], L"分类: Completed");
    EXPECT_EQ(CountFilesMatching(NormalRoot(), L"exit-*.txt"), 1);
}

TEST_F(FatalHandlerTest, WithoutDiagnosticsOnlyTheExitCodeRemains) {
    App().diagnostics.reset();
    const std::wstring written = ReadText(NormalRoot() + L"\\latest-exit.txt");
    EXPECT_EQ(HandleFatalException(std::runtime_error("COM initialization failed")), 2);
    EXPECT_EQ(HandleUnknownException(), 2);
    EXPECT_EQ(ReadText(NormalRoot() + L"\\latest-exit.txt"), written);
}

TEST_F(FatalHandlerTest, NormalAndHoldTestsEndWithCompletedReport) {
    EXPECT_EQ(RunDiagnosticTest(L"normal", 0), std::optional<int>(0));
    std::vector<std::wstring> lines = LatestReport();
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(lines[6], L"分类: Completed");
    EXPECT_EQ(lines[8], L"执行阶段: 诊断：正常退出");
    EXPECT_EQ(lines[9], L"原因: 诊断验证按预期正常完成。");
    EXPECT_EQ(lines[10], L"人工处理: 无需处理。");

    App().diagnostics = std::make_unique<RunDiagnostics>(LocalAppData());
    EXPECT_EQ(RunDiagnosticTest(L"hold", 0), std::optional<int>(0));
    lines = LatestReport();
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(lines[8], L"执行阶段: 诊断：多实例保持运行");
    EXPECT_EQ(lines[9], L"原因: 多实例诊断正常结束。");
}

TEST_F(FatalHandlerTest, UnknownTestNamesSelectNothing) {
    for (const wchar_t* name : {L"", L"Normal", L"hold ", L"other"}) {
        EXPECT_EQ(RunDiagnosticTest(name, 0), std::nullopt) << testing::PrintToString(std::wstring(name));
    }
    EXPECT_FALSE(InstalledDiagnostics().finished());
    EXPECT_EQ(InstalledDiagnostics().stage(), L"建立本地退出报告");
}

}  // namespace
}  // namespace orivanta::test
