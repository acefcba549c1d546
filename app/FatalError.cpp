#include "app/FatalError.h"

#include <windows.h>

#include "common/ExceptionChain.h"
#include "state/AppState.h"

namespace orivanta {
namespace {

constexpr int kFatalExitCode = 2;

}  // namespace

int HandleFatalException(const std::exception& failure) noexcept {
    try {
        const std::wstring chain = ExceptionChain(failure);
        FinishRun(L"UnhandledException", kFatalExitCode, L"安装助手在启动或运行阶段遇到可捕获异常，未继续执行。",
                  L"请根据异常链修复网络、磁盘或中心配置后重试；如持续出现，请把本地退出报告交给技术支持。", chain);
        if (!App().diagnosticMode) {
            const std::wstring text = L"安装助手无法继续运行。\n\n" + chain;
            ::MessageBoxW(nullptr, text.c_str(), L"欧瑞凡达安装助手", MB_OK | MB_ICONERROR);
        }
    } catch (...) {
        // Out of memory while composing: the exit code is all that is left to give.
    }
    return kFatalExitCode;
}

int HandleUnknownException() noexcept {
    try {
        FinishRun(L"UnhandledException", kFatalExitCode, L"安装助手遇到未知异常，未继续执行。",
                  L"请把本地退出报告交给技术支持。", L"非标准 C++ 异常");
    } catch (...) {
        // As above: the exit code still goes out.
    }
    return kFatalExitCode;
}

}  // namespace orivanta
