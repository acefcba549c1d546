#pragma once
#include <windows.h>

#include <string>

namespace orivanta {

// "2026-12-06T22:12:45.123Z": the time stamp of every diagnostic and record file.
std::wstring FormatUtcTimestamp(const SYSTEMTIME& time);
std::wstring UtcTimestamp();

}  // namespace orivanta
