#include "common/GuidText.h"

#include <objbase.h>

#include <algorithm>
#include <stdexcept>

namespace orivanta {

std::wstring NewGuidText() {
    GUID guid{};
    if (FAILED(::CoCreateGuid(&guid))) throw std::runtime_error("GUID creation failed");
    wchar_t buffer[64] = {};
    ::StringFromGUID2(guid, buffer, 64);
    std::wstring text(buffer);
    text.erase(std::remove_if(text.begin(), text.end(), [](wchar_t c) { return c == L'{' || c == L'}'; }),
               text.end());
    return text;
}

}  // namespace orivanta
