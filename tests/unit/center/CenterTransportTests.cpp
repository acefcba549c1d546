// PostCenterJson against the development center: what goes on the wire, and
// what comes back for every kind of answer the center or the network gives.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <stdexcept>
#include <thread>

#include "AppStateReset.h"
#include "DevCenterClient.h"
#include "center/CenterTransport.h"
#include "center/JsonFields.h"
#include "common/ExceptionChain.h"
#include "net/HttpAbort.h"
#include "net/HttpExchange.h"
#include "state/AppState.h"

namespace orivanta {
namespace {

constexpr char kPrepareBody[] = R"({"deviceId":"transport-device","packageType":"Server"})";

std::string FailureOf(const std::wstring& url, const std::string& body = "{}", HttpAbort* abort = nullptr) {
    try {
        PostCenterJson(url, body, abort);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no failure";
}

// The failure with its cause, as the exit report prints it.
std::wstring ChainOf(const std::wstring& url) {
    try {
        PostCenterJson(url, "{}");
    } catch (const std::exception& error) {
        return ExceptionChain(error);
    }
    return L"no failure";
}

// A loopback port that nothing listens on.
unsigned short ClosedPort() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET probe = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int length = sizeof(address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::closesocket(probe);
    ::WSACleanup();
    return ntohs(address.sin_port);
}

class CenterTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        center_.Reset();
        test::ResetAppState();
    }

    std::wstring PrepareUrl() const { return center_.CenterUrl() + L"/api/installer-downloads/prepare"; }

    test::DevCenterClient center_;
};

TEST_F(CenterTransportTest, PostsTheBodyWithTheFixedHeaders) {
    const CenterResponse response = PostCenterJson(PrepareUrl(), kPrepareBody);
    EXPECT_EQ(response.status, 200u);
    EXPECT_TRUE(JsonBoolField(response.body, "isAllowed"));

    const std::string log = center_.Log("kind=api&last=1");
    EXPECT_EQ(JsonStringField(log, "method"), "POST");
    EXPECT_EQ(JsonStringField(log, "path"), "/support-center/api/installer-downloads/prepare");
    EXPECT_EQ(JsonStringField(log, "body"), kPrepareBody);
    EXPECT_EQ(JsonStringField(log, "User-Agent"), "OrivantaInstaller/1.0");
    EXPECT_EQ(JsonStringField(log, "Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(JsonStringField(log, "Accept"), "application/json");
    EXPECT_EQ(JsonStringField(log, "Content-Length"), std::to_string(sizeof(kPrepareBody) - 1));
    EXPECT_TRUE(App().centerResponded);
}

TEST_F(CenterTransportTest, ErrorStatusAndBodyArePassedThrough) {
    center_.QueueAnswer("prepare", 500, R"({"message":"服务器内部错误"})");
    center_.QueueAnswer("prepare", 409, R"({"errorCode":"INSTALLER_PACKAGE_NO_LONGER_CURRENT"})");

    const CenterResponse failed = PostCenterJson(PrepareUrl(), kPrepareBody);
    EXPECT_EQ(failed.status, 500u);
    EXPECT_EQ(failed.body, R"({"message":"服务器内部错误"})");
    EXPECT_TRUE(App().centerResponded);

    const CenterResponse conflict = PostCenterJson(PrepareUrl(), kPrepareBody);
    EXPECT_EQ(conflict.status, 409u);
    EXPECT_EQ(conflict.body, R"({"errorCode":"INSTALLER_PACKAGE_NO_LONGER_CURRENT"})");
}

TEST_F(CenterTransportTest, BodyOfExactlyTheCapIsReturnedWhole) {
    center_.Queue(R"({"operation":"prepare","status":200,"bodySize":131072})");
    const CenterResponse response = PostCenterJson(PrepareUrl(), kPrepareBody);
    EXPECT_EQ(response.status, 200u);
    ASSERT_EQ(response.body.size(), kMaxCenterResponseBytes);
    EXPECT_EQ(response.body.front(), '{');
    EXPECT_EQ(response.body.back(), '}');
}

TEST_F(CenterTransportTest, OneByteOverTheCapRaisesAndLeavesCenterRespondedClear) {
    center_.Queue(R"({"operation":"prepare","status":200,"bodySize":131073})");
    EXPECT_EQ(FailureOf(PrepareUrl(), kPrepareBody), "center response too large");
    EXPECT_FALSE(App().centerResponded);
}

TEST_F(CenterTransportTest, ConnectionCutWhileReadingReturnsWhatArrived) {
    center_.Queue(R"({"operation":"prepare","status":202,"bodySize":60000,"cutAfterBytes":20000})");
    const CenterResponse response = PostCenterJson(PrepareUrl(), kPrepareBody);
    EXPECT_EQ(response.status, 202u);
    EXPECT_EQ(response.body.size(), 20000u);
    EXPECT_EQ(response.body.rfind(R"({"padding":"xxx)", 0), 0u);
    EXPECT_TRUE(App().centerResponded);
}

TEST_F(CenterTransportTest, ClosedPortRaisesRequestFailed) {
    const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(ClosedPort()) + L"/support-center/x";
    EXPECT_EQ(FailureOf(url), "center request failed");
    EXPECT_EQ(ChainOf(url), L"center request failed -> 无法连接到服务器 (12029)");
    EXPECT_FALSE(App().centerResponded);
}

TEST_F(CenterTransportTest, AbortBreaksAHeldCallOffAndRefusesLaterCalls) {
    center_.Queue(R"({"operation":"prepare","status":200,"delayMs":3000,"body":{"isAllowed":true}})");
    HttpAbort abort;
    std::thread closer([&abort] {
        ::Sleep(500);
        abort.Abort();
    });
    // Windows returns at the abort; Wine only when the answer comes, which is then not read.
    EXPECT_EQ(FailureOf(PrepareUrl(), kPrepareBody, &abort), "center request failed");
    closer.join();
    EXPECT_FALSE(App().centerResponded);

    EXPECT_EQ(FailureOf(PrepareUrl(), kPrepareBody, &abort), "center request failed");
    EXPECT_EQ(center_.Log("kind=api").find("\"seq\":2"), std::string::npos) << "no second request was sent";
}

// Wine hands a closed handle's number to the next handle opened, so a call on a
// closed handle can land on another exchange's request.
TEST_F(CenterTransportTest, ExchangeMakesNoCallOnTheHandlesTheAbortClosed) {
    center_.QueueAnswer("prepare", 200, R"({"answer":"first"})");
    center_.QueueAnswer("prepare", 200, R"({"answer":"second"})");
    const HttpTimeouts timeouts{10000, 10000, 10000, 10000};
    HttpAbort abort;
    HttpExchange first(PrepareUrl(), L"POST", 2047, timeouts, &abort);
    ASSERT_TRUE(first.Send(L"", kPrepareBody, sizeof(kPrepareBody) - 1));
    abort.Abort();

    HttpExchange second(PrepareUrl(), L"POST", 2047, timeouts);
    ASSERT_TRUE(second.Send(L"", kPrepareBody, sizeof(kPrepareBody) - 1));
    char chunk[256];
    DWORD received = 0;
    EXPECT_FALSE(first.Read(chunk, sizeof(chunk), received));
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(first.error(), static_cast<DWORD>(ERROR_WINHTTP_OPERATION_CANCELLED));
    EXPECT_EQ(first.Header(WINHTTP_QUERY_CONTENT_LENGTH), L"");
    EXPECT_FALSE(first.Send(L"", kPrepareBody, sizeof(kPrepareBody) - 1));

    ASSERT_TRUE(second.Read(chunk, sizeof(chunk), received));
    EXPECT_EQ(std::string(chunk, received), R"({"answer":"second"})") << "the second exchange's answer is whole";
}

TEST_F(CenterTransportTest, HttpsUrlNegotiatesTlsAndFailsAgainstAPlainServer) {
    std::wstring url = PrepareUrl();
    url.replace(0, 4, L"https");
    EXPECT_EQ(FailureOf(url, kPrepareBody), "center request failed");
    EXPECT_FALSE(App().centerResponded);
}

TEST_F(CenterTransportTest, UncrackableUrlsRaiseInvalidCenterUrl) {
    EXPECT_EQ(FailureOf(L""), "invalid center URL");
    EXPECT_EQ(FailureOf(L"not a url"), "invalid center URL");
    EXPECT_EQ(FailureOf(L"ftp://127.0.0.1/support-center"), "invalid center URL");
    EXPECT_EQ(FailureOf(L"http://" + std::wstring(256, L'h') + L"/x"), "invalid center URL");
    EXPECT_EQ(FailureOf(L"http://127.0.0.1/" + std::wstring(2048, L'p')), "invalid center URL");
    EXPECT_FALSE(App().centerResponded);
}

TEST_F(CenterTransportTest, LongestPathStillCracks) {
    // 2047 path characters fit the buffer, so the call gets as far as connecting.
    EXPECT_EQ(FailureOf(L"http://127.0.0.1:" + std::to_wstring(ClosedPort()) + L"/" + std::wstring(2046, L'p')),
              "center request failed");
}

}  // namespace
}  // namespace orivanta
