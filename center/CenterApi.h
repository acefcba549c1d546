#pragma once
// The center's three operations. Each posts one fixed-shape JSON body to a path
// under the center's base URL and hands the answer back unjudged: the worker
// decides what a status means.

#include <cstdint>
#include <string>

#include "center/CenterTransport.h"

namespace orivanta {

// baseUrl and path joined by exactly one "/".
std::wstring BuildCenterUrl(const std::wstring& baseUrl, const std::wstring& path);

// deviceId and packageType are the program's own texts and go into the bodies as they are.
// abort, when given, lets the closing side break a call off (see PostCenterJson).
CenterResponse PrepareDownload(const std::wstring& baseUrl, const std::string& deviceId,
                               const std::string& packageType, HttpAbort* abort = nullptr);
// packageId comes from the center and is escaped before it is sent back.
CenterResponse RecordReuse(const std::wstring& baseUrl, const std::string& deviceId, const std::string& packageType,
                           const std::string& packageId, HttpAbort* abort = nullptr);
// Reports its stage (checkpoint, status text, refresh) before it posts.
CenterResponse StartDownload(const std::wstring& baseUrl, const std::string& deviceId, const std::string& packageType,
                             const std::wstring& sessionId, std::int64_t resumeOffset, HttpAbort* abort = nullptr);

}  // namespace orivanta
