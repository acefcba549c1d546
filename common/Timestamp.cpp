#include "common/Timestamp.h"

#include <cwchar>

namespace orivanta {

std::wstring FormatUtcTimestamp(const SYSTEMTIME& time) {
    wchar_t buffer[64] = {};
    std::swprintf(buffer, 64, L"%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", time.wYear, time.wMonth, time.wDay,
                  time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
    return buffer;
}

std::wstring UtcTimestamp() {
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    return FormatUtcTimestamp(now);
}

}  // namespace orivanta
