#include "net/RetryAfter.h"

#include <array>
#include <cstdint>
#include <vector>

namespace orivanta {
namespace {

using std::chrono::seconds;

constexpr std::int64_t kMostSeconds = std::int64_t{1} << 40;
constexpr std::array<const wchar_t*, 12> kMonths = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                                    L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};

// A run of decimal digits, at most kMostSeconds; nothing for anything else.
std::optional<std::int64_t> Number(const std::wstring& text) {
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + (c - L'0');
        if (value > kMostSeconds) value = kMostSeconds;
    }
    return value;
}

std::vector<std::wstring> Tokens(const std::wstring& text, const std::wstring& separators) {
    std::vector<std::wstring> tokens(1);
    for (const wchar_t c : text) {
        if (separators.find(c) == std::wstring::npos) {
            tokens.back() += c;
        } else if (!tokens.back().empty()) {
            tokens.emplace_back();
        }
    }
    if (tokens.back().empty()) tokens.pop_back();
    return tokens;
}

// "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT" or "Sun Nov  6 08:49:37 1994".
std::optional<std::chrono::sys_seconds> HttpDate(const std::wstring& text) {
    const std::vector<std::wstring> parts = Tokens(text, L" ,-");
    const bool dayFirst = parts.size() == 6 && parts[5] == L"GMT";  // the IMF and RFC 850 forms
    if (!dayFirst && parts.size() != 5) return std::nullopt;
    const std::wstring& dayText = parts[dayFirst ? 1 : 2];
    const std::wstring& monthText = parts[dayFirst ? 2 : 1];
    const std::wstring& yearText = parts[dayFirst ? 3 : 4];
    const std::wstring& timeText = parts[dayFirst ? 4 : 3];
    unsigned month = 0;
    while (month < kMonths.size() && monthText != kMonths[month]) ++month;
    const std::vector<std::wstring> clock = Tokens(timeText, L":");
    const auto day = Number(dayText);
    auto year = Number(yearText);
    if (month == kMonths.size() || clock.size() != 3 || !day || !year || (yearText.size() != 2 && yearText.size() != 4)) {
        return std::nullopt;
    }
    if (yearText.size() == 2) *year += *year < 70 ? 2000 : 1900;
    const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(*year)), std::chrono::month(month + 1),
                                           std::chrono::day(static_cast<unsigned>(*day))};
    const auto hours = Number(clock[0]), minutes = Number(clock[1]), secondsPart = Number(clock[2]);
    if (!date.ok() || !hours || !minutes || !secondsPart || *hours > 23 || *minutes > 59 || *secondsPart > 60) {
        return std::nullopt;
    }
    return std::chrono::sys_days(date) + std::chrono::hours(*hours) + std::chrono::minutes(*minutes) +
           seconds(*secondsPart);
}

}  // namespace

std::optional<seconds> ParseRetryAfter(const std::wstring& value, std::chrono::system_clock::time_point now) {
    const std::size_t first = value.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return std::nullopt;
    const std::wstring text = value.substr(first, value.find_last_not_of(L" \t") + 1 - first);
    if (const auto delay = Number(text)) return seconds(*delay);
    const auto date = HttpDate(text);
    if (!date) return std::nullopt;
    const auto wait = std::chrono::ceil<seconds>(*date - now);
    return wait > seconds(0) ? wait : seconds(0);
}

}  // namespace orivanta
