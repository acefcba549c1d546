#include "diagnostics/RunDiagnostics.h"

namespace orivanta {

RunDiagnostics::RunDiagnostics() : stage_(L"建立本地退出报告") {}

RunDiagnostics::~RunDiagnostics() = default;

void RunDiagnostics::Heartbeat(const std::wstring& stage) {
    std::lock_guard<std::mutex> guard(lock_);
    stage_ = stage;
}

void RunDiagnostics::Finish(const std::wstring&, int, const std::wstring&, const std::wstring&,
                            const std::wstring&) {
    std::lock_guard<std::mutex> guard(lock_);
    finished_ = true;
}

}  // namespace orivanta
