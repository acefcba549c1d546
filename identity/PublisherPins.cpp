#include "identity/PublisherPins.h"

#include <string_view>
#include <vector>

namespace orivanta {

std::span<const std::string> PublisherPins() {
    // CMake has checked the digests and joined them with commas.
    static const std::vector<std::string> pins = [] {
        std::vector<std::string> list;
        std::string_view rest = ORIVANTA_PUBLISHER_KEYS;
        while (!rest.empty()) {
            const size_t comma = rest.find(',');
            list.emplace_back(rest.substr(0, comma));
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
        return list;
    }();
    return pins;
}

}  // namespace orivanta
