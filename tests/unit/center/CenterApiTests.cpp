// The three center operations against the development center: exact request
// bodies as received, stage reporting of start, and the center's answers.
#include <gtest/gtest.h>

#include "AppStateReset.h"
#include "DevCenterClient.h"
#include "center/CenterApi.h"
#include "center/JsonFields.h"
#include "center/PackageMetadata.h"
#include "state/AppState.h"

namespace orivanta {
namespace {

// Receives the refresh messages that StartDownload posts to the main window.
class MessageOnlyWindow {
public:
    MessageOnlyWindow()
        : window_(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {
        App().mainWindow = window_;
    }
    ~MessageOnlyWindow() {
        App().mainWindow = nullptr;
        ::DestroyWindow(window_);
    }
    int TakeRefreshMessages() {
        int count = 0;
        MSG message;
        while (::PeekMessageW(&message, window_, kRefreshMessage, kRefreshMessage, PM_REMOVE)) ++count;
        return count;
    }

private:
    HWND window_;
};

std::wstring StatusText() {
    std::lock_guard<std::mutex> lock(App().stateMutex);
    return App().statusText;
}

class CenterApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        center_.Reset();
        test::ResetAppState();
        base_ = center_.CenterUrl();
    }

    std::string LastBody(const std::string& operation) {
        return JsonStringField(center_.Log("kind=api&operation=" + operation + "&last=1"), "body");
    }

    test::DevCenterClient center_;
    std::wstring base_;
};

TEST(BuildCenterUrl, JoinsBaseAndPathWithExactlyOneSlash) {
    EXPECT_EQ(BuildCenterUrl(L"https://center.example/support-center//", L"/api/installer-downloads/start"),
              L"https://center.example/support-center/api/installer-downloads/start");
    const std::wstring base = L"http://127.0.0.1:8080/support-center";
    EXPECT_EQ(BuildCenterUrl(base, L"//api/x"), L"http://127.0.0.1:8080/support-center/api/x");
    EXPECT_EQ(BuildCenterUrl(base, L"api/x"), L"http://127.0.0.1:8080/support-center/api/x");
}

TEST_F(CenterApiTest, PrepareSendsItsBodyAndReadsTheCurrentPackage) {
    const CenterResponse response = PrepareDownload(base_, "device-prepare", "ClientOnly");
    EXPECT_EQ(LastBody("prepare"), R"({"deviceId":"device-prepare","packageType":"ClientOnly"})");
    ASSERT_EQ(response.status, 200u);

    const std::string package = center_.Package("ClientOnly");
    const PackageMetadata metadata = ParsePackageMetadata(response);
    EXPECT_EQ(metadata.packageId, JsonStringField(package, "packageId"));
    EXPECT_EQ(metadata.fileName, JsonStringField(package, "fileName"));
    EXPECT_EQ(metadata.sha256, JsonStringField(package, "sha256"));
    EXPECT_EQ(metadata.sizeBytes, JsonIntegerField(package, "sizeBytes"));
    EXPECT_TRUE(JsonBoolField(response.body, "isAllowed"));
    EXPECT_EQ(JsonStringField(response.body, "rejectionReason"), "");
}

TEST_F(CenterApiTest, PrepareReportsARefusalWithOrWithoutReason) {
    center_.SetFaults(R"({"deviceLimit":0})");
    const CenterResponse limited = PrepareDownload(base_, "device-limited", "Server");
    EXPECT_EQ(limited.status, 200u);
    EXPECT_FALSE(JsonBoolField(limited.body, "isAllowed"));
    EXPECT_NE(JsonStringField(limited.body, "rejectionReason"), "");

    center_.SetFaults(R"({"deviceLimit":null,"refusePrepare":true,"rejectionReason":""})");
    const CenterResponse refused = PrepareDownload(base_, "device-refused", "Server");
    EXPECT_FALSE(JsonBoolField(refused.body, "isAllowed"));
    EXPECT_EQ(JsonStringField(refused.body, "rejectionReason"), "");
}

TEST_F(CenterApiTest, ReuseOfTheCurrentPackageIsRecorded) {
    const std::string packageId = JsonStringField(center_.Package("Server"), "packageId");
    const CenterResponse response = RecordReuse(base_, "device-reuse", "Server", packageId);
    EXPECT_EQ(LastBody("reuse"), R"({"deviceId":"device-reuse","packageType":"Server","packageId":")" + packageId +
                                     R"("})");
    EXPECT_EQ(response.status, 200u);
    EXPECT_TRUE(JsonBoolField(response.body, "recorded"));
    EXPECT_EQ(JsonIntegerField(center_.Counters("device-reuse"), "reuses"), 1);
}

TEST_F(CenterApiTest, ReuseOfAnOlderPackageIsRefusedAsNoLongerCurrent) {
    const CenterResponse response = RecordReuse(base_, "device-reuse", "Server", "server-2.7.9-old");
    EXPECT_EQ(response.status, 409u);
    EXPECT_EQ(JsonStringField(response.body, "errorCode"), "INSTALLER_PACKAGE_NO_LONGER_CURRENT");
    EXPECT_FALSE(JsonBoolField(response.body, "recorded"));
}

TEST_F(CenterApiTest, ReuseEscapesAPackageIdHoldingQuoteAndBackslash) {
    // Sent unescaped, this id would end the JSON string early and the center could not read the body.
    const std::string packageId = R"(srv"2.8\beta)";
    center_.SetPackage(R"({"packageType":"Server","packageId":"srv\"2.8\\beta"})");
    const CenterResponse response = RecordReuse(base_, "device-mend", "Server", packageId);
    EXPECT_EQ(LastBody("reuse"), R"({"deviceId":"device-mend","packageType":"Server","packageId":"srv\"2.8\\beta"})");
    EXPECT_EQ(response.status, 200u);
    EXPECT_TRUE(JsonBoolField(response.body, "recorded"));
}

TEST_F(CenterApiTest, StartOfANewSessionReportsItsStageAndIsCounted) {
    MessageOnlyWindow window;
    const CenterResponse response = StartDownload(base_, "device-start", "Server", L"s\"id\x01-1", 0);
    EXPECT_EQ(StatusText(), L"正在准备下载");
    EXPECT_EQ(window.TakeRefreshMessages(), 1);
    EXPECT_EQ(LastBody("start"),
              R"({"deviceId":"device-start","packageType":"Server","sessionId":"s\"id-1","resumeOffset":0})");
    ASSERT_EQ(response.status, 200u);
    EXPECT_EQ(ParsePackageMetadata(response).sha256, JsonStringField(center_.Package("Server"), "sha256"));
    EXPECT_EQ(JsonStringField(response.body, "downloadUrl").rfind("http://127.0.0.1:", 0), 0u);
    EXPECT_EQ(center_.DownloadsCounted("device-start"), 1);
}

TEST_F(CenterApiTest, ResumeOfAKnownSessionIsNotCountedAgain) {
    center_.SeedSession(R"({"deviceId":"device-resume","sessionId":"S-1","packageType":"ClientOnly"})");
    MessageOnlyWindow window;
    const CenterResponse response = StartDownload(base_, "device-resume", "ClientOnly", L"S-1", 4096);
    EXPECT_EQ(StatusText(), L"正在恢复下载");
    EXPECT_EQ(window.TakeRefreshMessages(), 1);
    EXPECT_EQ(LastBody("start"),
              R"({"deviceId":"device-resume","packageType":"ClientOnly","sessionId":"S-1","resumeOffset":4096})");
    EXPECT_EQ(response.status, 200u);
    EXPECT_NE(JsonStringField(response.body, "downloadUrl"), "");
    EXPECT_EQ(center_.DownloadsCounted("device-resume"), 0);
}

TEST_F(CenterApiTest, ResumeOffsetsTheCenterCannotVouchForAreInvalid) {
    const CenterResponse unknown = StartDownload(base_, "device-offset", "Server", L"never-started", 10);
    EXPECT_EQ(unknown.status, 409u);
    EXPECT_EQ(JsonStringField(unknown.body, "errorCode"), "DOWNLOAD_OFFSET_INVALID");

    center_.SeedSession(R"({"deviceId":"device-offset","sessionId":"S-2","packageType":"Server"})");
    const CenterResponse beyond = StartDownload(base_, "device-offset", "Server", L"S-2", 5000000000LL);
    EXPECT_EQ(LastBody("start"),
              R"({"deviceId":"device-offset","packageType":"Server","sessionId":"S-2","resumeOffset":5000000000})");
    EXPECT_EQ(beyond.status, 409u);
    EXPECT_EQ(JsonStringField(beyond.body, "errorCode"), "DOWNLOAD_OFFSET_INVALID");
}

TEST_F(CenterApiTest, StartBeyondTheDeviceLimitIsRefusedWithTheHotline) {
    center_.SetFaults(R"({"deviceLimit":1,"limitMessage":""})");
    ASSERT_EQ(StartDownload(base_, "device-full", "Server", L"first", 0).status, 200u);
    const CenterResponse refused = StartDownload(base_, "device-full", "Server", L"second", 0);
    EXPECT_EQ(refused.status, 403u);
    EXPECT_EQ(JsonStringField(refused.body, "errorCode"), "DEVICE_DOWNLOAD_LIMIT_REACHED");
    EXPECT_EQ(DescribeCenterFailure(refused, "中心未批准本次下载"),
              "中心未批准本次下载 请联系欧瑞凡达客服 400-100-200。");
    EXPECT_EQ(center_.DownloadsCounted("device-full"), 1);
}

}  // namespace
}  // namespace orivanta
