#include <gtest/gtest.h>

#include <windows.h>

#include "LoopbackHttpServer.h"
#include "download/ContentRange.h"
#include "download/RangedDownload.h"
#include "TestFiles.h"
#include "common/Utf.h"
#include "state/AppState.h"

namespace orivanta {
namespace {

using test::LoopbackHttpServer;
using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

std::string PatternBytes(size_t size, unsigned seed = 7) {
    std::string bytes(size, '\0');
    unsigned value = seed;
    for (char& byte : bytes) {
        value = value * 1103515245u + 12345u;
        byte = static_cast<char>(value >> 16);
    }
    return bytes;
}

// A message-only window standing in for the main window: counts the progress posts.
class ProgressWindow {
public:
    ProgressWindow() {
        window_ = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        App().mainWindow = window_;
    }
    ~ProgressWindow() {
        App().mainWindow = nullptr;
        ::DestroyWindow(window_);
    }
    int TakeRefreshCount() {
        int count = 0;
        MSG message;
        while (::PeekMessageW(&message, window_, kRefreshMessage, kRefreshMessage, PM_REMOVE)) ++count;
        return count;
    }

private:
    HWND window_ = nullptr;
};

class RangedDownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppState& app = App();
        app.bytesDone = 0;
        app.bytesTotal = 0;
        app.progressPercent = 0;
        app.speedBytesPerSecond = 0.0;
    }

    // A clock that advances by a fixed step on every reading and runs an action per reading.
    TickSource SteppingClock(std::uint64_t step, std::function<void(int)> onReading = {}) {
        return [this, step, onReading] {
            const int reading = readings_++;
            if (onReading) onReading(reading);
            lastTick_ = 1000 + step * static_cast<std::uint64_t>(reading);
            return lastTick_;
        };
    }

    LoopbackHttpServer server_;
    TempFolder folder_{L"ranged"};
    std::wstring part_ = folder_ / L"client.part";
    StopFlag stop_{false};
    int readings_ = 0;
    std::uint64_t lastTick_ = 0;
};

TEST_F(RangedDownloadTest, FreshDownloadSendsNoRangeAndReplacesAnyOldContent) {
    const std::string body = PatternBytes(300000);
    server_.SetBody(body);
    WriteBytes(part_, PatternBytes(400000, 99));

    std::wstring error;
    ASSERT_TRUE(RangedDownload(server_.Url(), part_, 0, static_cast<std::int64_t>(body.size()), stop_, error))
        << Utf16ToUtf8(error);
    EXPECT_EQ(ReadBytes(part_), body);
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/objects/package.exe?Expires=1&Signature=a%2Bb");
    EXPECT_TRUE(requests[0].range.empty());
    EXPECT_EQ(App().bytesDone.load(), 300000);
    EXPECT_EQ(App().bytesTotal.load(), 300000);
}

TEST_F(RangedDownloadTest, ResumeAppendsAtTheOffsetAndFetchesOnlyTheMissingBytes) {
    const std::string body = PatternBytes(250000);
    server_.SetBody(body);
    WriteBytes(part_, body.substr(0, 100000));

    std::wstring error;
    ASSERT_TRUE(RangedDownload(server_.Url(), part_, 100000, 250000, stop_, error));
    EXPECT_EQ(ReadBytes(part_), body);
    ASSERT_EQ(server_.Requests().size(), 1u);
    EXPECT_EQ(server_.Requests()[0].range, "bytes=100000-");
    EXPECT_EQ(server_.BodyBytesSent(), 150000);
}

TEST_F(RangedDownloadTest, PartialFileIsNotTruncatedAtTheOffset) {
    const std::string body = PatternBytes(200000);
    server_.SetBody(body);
    server_.SetCutAfter(1000);
    std::string old = body.substr(0, 50000) + std::string(100000, 'x');
    WriteBytes(part_, old);

    std::wstring error;
    EXPECT_FALSE(RangedDownload(server_.Url(), part_, 50000, 200000, stop_, error));
    const std::string kept = ReadBytes(part_);
    ASSERT_EQ(kept.size(), old.size());
    EXPECT_EQ(kept.substr(0, 51000), body.substr(0, 51000));
    EXPECT_EQ(kept.substr(51000), std::string(99000, 'x'));
}

TEST_F(RangedDownloadTest, WholeObjectAnswerToARangeRestartsTheFileAndTheSpeed) {
    const std::string body = PatternBytes(180000);
    server_.SetBody(body);
    server_.SetIgnoreRange(true);
    WriteBytes(part_, std::string(90000, 'z') + std::string(200000, 'y'));

    std::wstring error;
    ASSERT_TRUE(RangedDownload(server_.Url(), part_, 90000, 180000, stop_, error, SteppingClock(1000)));
    EXPECT_EQ(server_.Requests()[0].range, "bytes=90000-");
    EXPECT_EQ(ReadBytes(part_), body);
    // Every reading advances one second: the speed counts all 180000 bytes since the restart.
    const double seconds = static_cast<double>(lastTick_ - 1000) / 1000.0;
    EXPECT_DOUBLE_EQ(App().speedBytesPerSecond.load(), 180000.0 / seconds);
}

TEST_F(RangedDownloadTest, RefusedStatusesLeaveThePartialFileAlone) {
    server_.SetBody(PatternBytes(1000));
    WriteBytes(part_, "kept");
    for (int status : {403, 404, 416, 500}) {
        server_.SetStatusOverride(status);
        std::wstring error;
        EXPECT_FALSE(RangedDownload(server_.Url(), part_, 4, 1000, stop_, error));
        EXPECT_EQ(error, L"下载节点返回状态 " + std::to_wstring(status));
        EXPECT_EQ(ReadBytes(part_), "kept");
    }
}

TEST_F(RangedDownloadTest, RangeStartingAtTheEndOfTheObjectIsRefusedWith416) {
    const std::string body = PatternBytes(5000);
    server_.SetBody(body);
    WriteBytes(part_, body);
    std::wstring error;
    EXPECT_FALSE(RangedDownload(server_.Url(), part_, 5000, 5000, stop_, error));
    EXPECT_EQ(error, L"下载节点返回状态 416");
}

TEST_F(RangedDownloadTest, BodyCutShortKeepsEveryReceivedByte) {
    const std::string body = PatternBytes(400000);
    server_.SetBody(body);
    server_.SetCutAfter(150000);

    std::wstring error;
    EXPECT_FALSE(RangedDownload(server_.Url(), part_, 0, 400000, stop_, error));
    EXPECT_TRUE(error.rfind(L"下载中断：", 0) == 0 || error == L"文件大小不完整，已保留下载进度，可重试续传。")
        << "unexpected error text of length " << Utf16ToUtf8(error);
    EXPECT_EQ(ReadBytes(part_), body.substr(0, 150000));
    EXPECT_EQ(App().bytesDone.load(), 150000);
}

TEST_F(RangedDownloadTest, SizeCheckFollowsTheAnnouncedSize) {
    const std::string body = PatternBytes(120000);
    server_.SetBody(body);

    std::wstring error;
    EXPECT_FALSE(RangedDownload(server_.Url(), part_, 0, 100000, stop_, error));
    EXPECT_EQ(error, L"下载节点发送的数据超出安装包大小（100000 字节），已停止写入，请重试下载。");
    EXPECT_EQ(App().progressPercent.load(), 100) << "more bytes than announced never exceed 100 %";
    EXPECT_EQ(ReadBytes(part_), body.substr(0, 100000)) << "the file never grows past the announced size";

    error.clear();
    EXPECT_FALSE(RangedDownload(server_.Url(), part_, 0, 130000, stop_, error));
    EXPECT_EQ(error, L"文件大小不完整，已保留下载进度，可重试续传。");

    error.clear();
    EXPECT_TRUE(RangedDownload(server_.Url(), part_, 0, 0, stop_, error));
    EXPECT_EQ(ReadBytes(part_), body);
    EXPECT_EQ(App().progressPercent.load(), 0);
}

TEST_F(RangedDownloadTest, PauseBeforeTheFirstChunkStillEmptiesAFreshFile) {
    server_.SetBody(PatternBytes(100000));
    WriteBytes(part_, "stale bytes");
    stop_ = true;

    std::wstring error;
    EXPECT_FALSE(RangedDownload(server_.Url(), part_, 0, 100000, stop_, error));
    EXPECT_EQ(error, L"PAUSED");
    EXPECT_TRUE(test::FileExists(part_));
    EXPECT_EQ(ReadBytes(part_), "");
}

TEST_F(RangedDownloadTest, PauseBetweenChunksKeepsExactlyWhatWasWritten) {
    const std::string body = PatternBytes(2 * 1024 * 1024);
    server_.SetBody(body);

    std::wstring error;
    // The third reading follows the second chunk: the pause takes effect right there.
    EXPECT_FALSE(RangedDownload(server_.Url(), part_, 0, static_cast<std::int64_t>(body.size()), stop_, error,
                                SteppingClock(1, [this](int reading) {
                                    if (reading == 2) stop_ = true;
                                })));
    EXPECT_EQ(error, L"PAUSED");
    const std::string kept = ReadBytes(part_);
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LE(kept.size(), 2u * 65536u);
    EXPECT_EQ(kept, body.substr(0, kept.size()));
    EXPECT_EQ(App().bytesDone.load(), static_cast<std::int64_t>(kept.size()));
}

TEST_F(RangedDownloadTest, PauseAfterTheLastByteWinsOverSuccess) {
    const std::string body = PatternBytes(200000);
    server_.SetBody(body);

    std::wstring error;
    EXPECT_FALSE(RangedDownload(server_.Url(), part_, 0, 200000, stop_, error, SteppingClock(1, [this](int) {
                                    if (App().bytesDone.load() == 200000) stop_ = true;
                                })));
    EXPECT_EQ(error, L"PAUSED");
    EXPECT_EQ(ReadBytes(part_), body);
}

TEST_F(RangedDownloadTest, ProgressIsPostedOnlyWhenMoreThan150MillisecondsPassed) {
    ProgressWindow window;
    server_.SetBody(PatternBytes(1024 * 1024));
    std::wstring error;

    // A clock that stands still: no post at all, yet the final figures are stored.
    ASSERT_TRUE(RangedDownload(server_.Url(), part_, 0, 1024 * 1024, stop_, error, SteppingClock(0)));
    EXPECT_EQ(window.TakeRefreshCount(), 0);
    EXPECT_EQ(App().progressPercent.load(), 100);
    EXPECT_EQ(App().bytesDone.load(), 1024 * 1024);

    // One reading at the start, one per chunk, one at the end.
    readings_ = 0;
    ASSERT_TRUE(RangedDownload(server_.Url(), part_, 0, 1024 * 1024, stop_, error, SteppingClock(151)));
    const int chunks = readings_ - 2;
    EXPECT_GE(chunks, 16);
    EXPECT_EQ(window.TakeRefreshCount(), chunks) << "151 ms per chunk posts after every chunk";

    // Exactly 150 ms is not enough: every second chunk posts.
    readings_ = 0;
    ASSERT_TRUE(RangedDownload(server_.Url(), part_, 0, 1024 * 1024, stop_, error, SteppingClock(150)));
    EXPECT_EQ(window.TakeRefreshCount(), (readings_ - 2) / 2);
}

TEST_F(RangedDownloadTest, UnusableAddressesFailBeforeTouchingTheFile) {
    WriteBytes(part_, "kept");
    std::wstring error;
    EXPECT_FALSE(RangedDownload(L"not a url", part_, 0, 10, stop_, error));
    EXPECT_EQ(error, L"临时下载地址无效");

    error.clear();
    EXPECT_FALSE(RangedDownload(L"http://" + std::wstring(300, L'h') + L"/x", part_, 0, 10, stop_, error));
    EXPECT_EQ(error, L"临时下载地址无效");

    // Port 1 on loopback has no listener.
    error.clear();
    EXPECT_FALSE(RangedDownload(L"http://127.0.0.1:1/package.exe", part_, 4, 10, stop_, error));
    EXPECT_EQ(error.rfind(L"下载连接失败：", 0), 0u);
    EXPECT_EQ(ReadBytes(part_), "kept");
}

TEST(MisplacedRangeTextTest, OnlyARangeThatContinuesThePartialFileFits) {
    EXPECT_EQ(MisplacedRangeText(L"bytes 100-199/200", 100, 200), L"");
    EXPECT_EQ(MisplacedRangeText(L"bytes 100-199/*", 100, 200), L"");
    EXPECT_EQ(MisplacedRangeText(L"bytes 100-199/300", 100, 0), L"") << "no size to compare with";
    for (const wchar_t* misplaced : {L"", L"bytes 105-199/200", L"bytes 95-199/200", L"bytes 100-199/300",
                                     L"bytes=100-199/200", L"bytes 100-199", L"bytes 100-99/200", L"bytes 100-199/200 ",
                                     L"bytes 100-99999999999999999999/200"}) {
        const std::wstring text = MisplacedRangeText(misplaced, 100, 200);
        EXPECT_EQ(text.rfind(L"下载节点返回的续传范围与请求不符（请求从第 100 字节开始，节点返回", 0), 0u)
            << Utf16ToUtf8(misplaced) << " -> " << Utf16ToUtf8(text);
    }
}

TEST(DownloadPercentTest, TruncatesAndCaps) {
    EXPECT_EQ(DownloadPercent(0, 0), 0);
    EXPECT_EQ(DownloadPercent(999, 1000), 99);
    EXPECT_EQ(DownloadPercent(1000, 1000), 100);
    EXPECT_EQ(DownloadPercent(5000, 1000), 100);
    EXPECT_EQ(DownloadPercent(50, -1), 0);
}

}  // namespace
}  // namespace orivanta
