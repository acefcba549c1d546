#include <gtest/gtest.h>

#include <stdexcept>

#include "center/CenterTransport.h"
#include "center/PackageMetadata.h"

namespace orivanta {
namespace {

const std::string kDigest(64, 'a');
const char kIncomplete[] = "中心返回的安装包元数据不完整";

CenterResponse Answer(const std::string& body, unsigned long status = 200) { return CenterResponse{status, body}; }

std::string MetadataJson(const std::string& sha256, const std::string& size, const std::string& packageId = "p-1",
                         const std::string& fileName = "OrivantaSetup-Server-2.8.0.exe") {
    return R"({"packageId":")" + packageId + R"(","versionName":"","fileName":")" + fileName +
           R"(","sha256":")" + sha256 + R"(","sizeBytes":)" + size + "}";
}

void ExpectIncomplete(const std::string& body) {
    try {
        ParsePackageMetadata(Answer(body));
        ADD_FAILURE() << "accepted: " << body;
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), kIncomplete);
    }
}

TEST(ParsePackageMetadata, ReadsNestedMembersAndLowerCasesTheDigest) {
    const std::string upper = "ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789";
    const PackageMetadata metadata =
        ParsePackageMetadata(Answer(R"({"ok":true,"package":{"packageId":"srv-2.8","versionName":"2.8.0",)"
                                    R"("fileName":"Setup.exe","sha256":")" + upper + R"(","sizeBytes": 1048576}})"));
    EXPECT_EQ(metadata.packageId, "srv-2.8");
    EXPECT_EQ(metadata.versionName, "2.8.0");
    EXPECT_EQ(metadata.fileName, "Setup.exe");
    EXPECT_EQ(metadata.sha256, "abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789");
    EXPECT_EQ(metadata.sizeBytes, 1048576);
}

TEST(ParsePackageMetadata, EmptyVersionNameIsAccepted) {
    EXPECT_EQ(ParsePackageMetadata(Answer(MetadataJson(kDigest, "1"))).versionName, "");
}

TEST(ParsePackageMetadata, RejectsIncompleteOrInvalidMembers) {
    ExpectIncomplete(MetadataJson(std::string(63, 'a'), "10"));
    ExpectIncomplete(MetadataJson(std::string(65, 'a'), "10"));
    ExpectIncomplete(MetadataJson(std::string(63, 'a') + "g", "10"));
    ExpectIncomplete(MetadataJson(kDigest, "\"42\""));
    ExpectIncomplete(MetadataJson(kDigest, "-5"));
    ExpectIncomplete(MetadataJson(kDigest, "0"));
    ExpectIncomplete(MetadataJson(kDigest, "10", ""));
    ExpectIncomplete(MetadataJson(kDigest, "10", "p-1", ""));
    ExpectIncomplete("");
    ExpectIncomplete(R"({"message":"not found"})");
}

TEST(DescribeCenterFailure, PrefersTheCenterMessage) {
    EXPECT_EQ(DescribeCenterFailure(Answer(R"({"message":"维护中"})", 503), "无法取得最新安装包信息"), "维护中");
    EXPECT_EQ(DescribeCenterFailure(Answer("", 500), "无法取得最新安装包信息"), "无法取得最新安装包信息");
    EXPECT_EQ(DescribeCenterFailure(Answer(R"({"errorCode":"OTHER"})", 409), "中心未批准本次下载"),
              "中心未批准本次下载");
}

TEST(DescribeCenterFailure, DeviceLimitAddsTheHotlineOnce) {
    EXPECT_EQ(DescribeCenterFailure(Answer(R"({"errorCode":"DEVICE_DOWNLOAD_LIMIT_REACHED"})", 403),
                                    "中心未批准本次下载"),
              "中心未批准本次下载 请联系欧瑞凡达客服 400-100-200。");
    EXPECT_EQ(DescribeCenterFailure(Answer(R"({"errorCode":"DEVICE_DOWNLOAD_LIMIT_REACHED","message":"已达上限"})"),
                                    "x"),
              "已达上限 请联系欧瑞凡达客服 400-100-200。");
    const std::string named = "已达上限，请致电 400-100-200";
    EXPECT_EQ(DescribeCenterFailure(
                  Answer(R"({"errorCode":"DEVICE_DOWNLOAD_LIMIT_REACHED","message":")" + named + R"("})"), "x"),
              named);
    // The code is compared exactly.
    EXPECT_EQ(DescribeCenterFailure(Answer(R"({"errorCode":"device_download_limit_reached"})"), "x"), "x");
}

}  // namespace
}  // namespace orivanta
