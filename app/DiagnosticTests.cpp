#include "app/DiagnosticTests.h"

#include <windows.h>

#include <exception>
#include <stdexcept>

#include "state/AppState.h"

namespace orivanta {

std::optional<int> RunDiagnosticTest(const std::wstring& test, unsigned long holdMilliseconds) {
    if (test == L"normal") {
        Checkpoint(L"诊断：正常退出");
        FinishRun(L"Completed", 0, L"诊断验证按预期正常完成。", L"无需处理。", L"");
        return 0;
    }
    if (test == L"early-error") throw std::runtime_error("diagnostic early initialization failure");
    if (test == L"nested-error") {
        try {
            throw std::runtime_error("inner diagnostic failure");
        } catch (const std::exception&) {
            std::throw_with_nested(std::runtime_error("outer diagnostic context"));
        }
    }
    if (test == L"hold") {
        // A second instance started meanwhile must find this run alive and leave its marker.
        Checkpoint(L"诊断：多实例保持运行");
        ::Sleep(holdMilliseconds);
        FinishRun(L"Completed", 0, L"多实例诊断正常结束。", L"无需处理。", L"");
        return 0;
    }
    return std::nullopt;
}

}  // namespace orivanta
