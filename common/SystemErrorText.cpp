#include "common/SystemErrorText.h"

#include "common/Handles.h"

namespace orivanta {

std::wstring ComposeSystemErrorText(std::wstring message, unsigned long code) {
    if (message.empty()) message = L"未知系统错误";
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n')) message.pop_back();
    return message + L" (" + std::to_wstring(code) + L")";
}

std::wstring SystemErrorText(unsigned long code, HMODULE messageModule) {
    std::wstring message;
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER |
            (messageModule != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : 0),
        messageModule, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    UniqueLocalMemory owner(buffer);
    if (length > 0 && buffer != nullptr) message.assign(buffer, length);
    return ComposeSystemErrorText(std::move(message), code);
}

}  // namespace orivanta
