#pragma once
#include <cstddef>
#include <string>

#include "common/Handles.h"

namespace orivanta {

// An http or https URL split the way a WinHTTP request needs it.
struct HttpUrl {
    bool secure = false;
    INTERNET_PORT port = 0;
    std::wstring host;
    std::wstring target;  // path plus query, so signed parameters travel unchanged
};

// False for a malformed URL, a scheme other than http and https, a host name
// longer than 255 characters or a path longer than maxPathChars (the query
// string does not count).
bool CrackHttpUrl(const std::wstring& url, std::size_t maxPathChars, HttpUrl& cracked);

}  // namespace orivanta
