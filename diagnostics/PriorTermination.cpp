#include "diagnostics/PriorTermination.h"

#include <windows.h>

#include <cwchar>

#include "common/AtomicFile.h"
#include "common/Handles.h"
#include "common/Timestamp.h"

namespace orivanta {

std::wstring ComposePriorUnexpectedReport(const std::wstring& timestamp, const std::wstring& evidence) {
    return L"检测到上次非正常中断\r\n"
           L"时间(UTC): " + timestamp + L"\r\n"
           L"证据: " + evidence + L"\r\n"
           L"说明: 上次进程未执行退出代码，可能被强制结束、断电或系统故障；无法伪称准确原因。\r\n"
           L"处理: 重新开始即可复用原下载会话与已下载文件。\r\n";
}

bool ProcessIsRunning(long processId) {
    if (processId == 0) return false;
    UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(processId)));
    if (!process) return false;
    return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void ScanPriorUnexpected(const std::wstring& reportRoot, const std::wstring& sessionsFolder,
                         const std::wstring& currentRunId) {
    WIN32_FIND_DATAW entry{};
    UniqueFindHandle listing(::FindFirstFileW((sessionsFolder + L"\\*.running").c_str(), &entry));
    if (!listing) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        // The name starts with the process id of the run that wrote it.
        if (ProcessIsRunning(std::wcstol(name.c_str(), nullptr, 10))) continue;
        const std::wstring marker = sessionsFolder + L"\\" + name;
        WriteFileAtomically(reportRoot + L"\\prior-unexpected-" + currentRunId + L"-" + name + L".txt",
                            ComposePriorUnexpectedReport(UtcTimestamp(), marker));
        ::DeleteFileW(marker.c_str());
    } while (::FindNextFileW(listing.get(), &entry));
}

}  // namespace orivanta
