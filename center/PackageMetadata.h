#pragma once
#include <cstdint>
#include <string>

namespace orivanta {

struct CenterResponse;

// The center's description of one installer package (UTF-8 texts as received).
struct PackageMetadata {
    std::string packageId;
    std::string versionName;
    std::string fileName;
    std::string sha256;  // 64 lower-case hexadecimal characters once validated
    std::int64_t sizeBytes = 0;
};

// The package named by a prepare or start answer, wherever its members stand in
// the body; raises "中心返回的安装包元数据不完整" when a required member is
// missing or invalid. versionName may be empty.
PackageMetadata ParsePackageMetadata(const CenterResponse& response);

// The user's text for a refused answer: the center's message or defaultText, with
// the support hotline added for a device download limit (UTF-8 in and out).
std::string DescribeCenterFailure(const CenterResponse& response, const std::string& defaultText);

}  // namespace orivanta
