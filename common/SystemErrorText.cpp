#include "common/SystemErrorText.h"

#include "common/Handles.h"
#include "common/NetworkErrorText.h"

namespace orivanta {
namespace {

constexpr unsigned long kFirstInternetError = 12000;
constexpr unsigned long kLastInternetError = 12999;

// WinHTTP's codes have their texts in winhttp.dll, not in the system's table.
// Only a module already loaded is asked: nothing is loaded for a message.
HMODULE MessageModuleOf(unsigned long code) {
    if (code < kFirstInternetError || code > kLastInternetError) return nullptr;
    return ::GetModuleHandleW(L"winhttp.dll");
}

}  // namespace

std::wstring ComposeSystemErrorText(std::wstring message, unsigned long code) {
    if (message.empty()) message = L"未知系统错误";
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n')) message.pop_back();
    return message + L" (" + std::to_wstring(code) + L")";
}

std::wstring SystemErrorText(unsigned long code) {
    std::wstring message = NetworkErrorMessage(code);
    if (message.empty()) {
        const HMODULE module = MessageModuleOf(code);
        wchar_t* buffer = nullptr;
        const DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                (module != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : 0),
            module, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
        UniqueLocalMemory owner(buffer);
        if (length > 0 && buffer != nullptr) message.assign(buffer, length);
    }
    return ComposeSystemErrorText(std::move(message), code);
}

}  // namespace orivanta
