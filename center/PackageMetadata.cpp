#include "center/PackageMetadata.h"

#include <stdexcept>

#include "center/CenterTransport.h"
#include "center/JsonFields.h"
#include "common/SupportHotline.h"
#include "identity/Sha256.h"

namespace orivanta {

PackageMetadata ParsePackageMetadata(const CenterResponse& response) {
    PackageMetadata metadata;
    metadata.packageId = JsonStringField(response.body, "packageId");
    metadata.versionName = JsonStringField(response.body, "versionName");
    metadata.fileName = JsonStringField(response.body, "fileName");
    metadata.sha256 = LowerCaseDigest(JsonStringField(response.body, "sha256"));
    metadata.sizeBytes = JsonIntegerField(response.body, "sizeBytes");
    if (metadata.packageId.empty() || metadata.fileName.empty() || !IsDigestText(metadata.sha256) ||
        metadata.sizeBytes <= 0) {
        throw std::runtime_error("中心返回的安装包元数据不完整");
    }
    return metadata;
}

std::string DescribeCenterFailure(const CenterResponse& response, const std::string& defaultText) {
    std::string message = JsonStringField(response.body, "message");
    const std::string code = JsonStringField(response.body, "errorCode");
    if (message.empty()) message = defaultText;
    if (code == "DEVICE_DOWNLOAD_LIMIT_REACHED" && message.find(kSupportHotline) == std::string::npos) {
        message += std::string(" 请联系欧瑞凡达客服 ") + kSupportHotline + "。";
    }
    return message;
}

}  // namespace orivanta
