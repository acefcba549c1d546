#include "download/ContentRange.h"

#include <cwctype>

namespace orivanta {
namespace {

// Reads the decimal number at text[at...], advancing at; false when there is none or it overflows.
bool ReadNumber(const std::wstring& text, std::size_t& at, std::int64_t& value) {
    const std::size_t first = at;
    value = 0;
    while (at < text.size() && std::iswdigit(text[at])) {
        if (value > (INT64_MAX - 9) / 10) return false;
        value = value * 10 + (text[at] - L'0');
        ++at;
    }
    return at > first;
}

// "bytes FIRST-LAST/TOTAL" with TOTAL possibly "*" (reported as -1).
bool ParseContentRange(const std::wstring& header, std::int64_t& first, std::int64_t& total) {
    const std::wstring unit = L"bytes ";
    if (header.compare(0, unit.size(), unit) != 0) return false;
    std::size_t at = unit.size();
    std::int64_t last = 0;
    if (!ReadNumber(header, at, first) || at >= header.size() || header[at++] != L'-' ||
        !ReadNumber(header, at, last) || last < first || at >= header.size() || header[at++] != L'/') {
        return false;
    }
    if (header.compare(at, std::wstring::npos, L"*") == 0) {
        total = -1;
        return true;
    }
    return ReadNumber(header, at, total) && at == header.size() && total > last;
}

}  // namespace

std::wstring MisplacedRangeText(const std::wstring& contentRange, std::int64_t requestedStart,
                                std::int64_t expectedSize) {
    std::int64_t first = 0;
    std::int64_t total = 0;
    if (ParseContentRange(contentRange, first, total) && first == requestedStart &&
        (total < 0 || expectedSize <= 0 || total == expectedSize)) {
        return {};
    }
    const std::wstring named = contentRange.empty() ? std::wstring(L"未注明范围") : L"“" + contentRange + L"”";
    return L"下载节点返回的续传范围与请求不符（请求从第 " + std::to_wstring(requestedStart) + L" 字节开始，节点返回" +
           named + L"），未写入任何数据，已下载的部分保持不变。";
}

}  // namespace orivanta
