#pragma once
#include <cstdint>
#include <string>

namespace orivanta {

// The center's description of one installer package (UTF-8 texts as received).
struct PackageMetadata {
    std::string packageId;
    std::string versionName;
    std::string fileName;
    std::string sha256;  // 64 lower-case hexadecimal characters once validated
    std::int64_t sizeBytes = 0;
};

}  // namespace orivanta
