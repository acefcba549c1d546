// Measures the download engine and the file hashing next to bare loops over the
// same URL and file, for tools/bench/bench_download.py. One measurement per run;
// prints key=value lines.
//
//   engine <url> <part path> <offset> <expected size>   RangedDownload
//   bare <url> <file path>                              WinHTTP read loop writing a file
//   readonly <url>                                      WinHTTP read loop, bytes discarded
//   sha <file path>                                     Sha256FileHex
//   bcrypt <file path>                                  BCrypt loop over 64 KiB reads

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/Handles.h"
#include "common/Utf.h"
#include "download/RangedDownload.h"
#include "identity/Sha256.h"

using namespace orivanta;

namespace {

constexpr DWORD kChunk = 65536;

double Seconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER value;
        ::QueryPerformanceFrequency(&value);
        return value;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void PrintMemory() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                               sizeof(counters))) {
        std::printf("peak_working_set=%llu\nprivate_bytes=%llu\n",
                    static_cast<unsigned long long>(counters.PeakWorkingSetSize),
                    static_cast<unsigned long long>(counters.PrivateUsage));
    }
}

void PrintResult(bool ok, long long bytes, double seconds) {
    std::printf("ok=%d\nbytes=%lld\nseconds=%.6f\n", ok ? 1 : 0, bytes, seconds);
}

// The plainest WinHTTP download: one request, 64 KiB reads, optionally written to a file.
int BareLoop(const std::wstring& url, const wchar_t* path) {
    wchar_t host[256] = {};
    wchar_t target[4096] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = target;
    parts.dwUrlPathLength = 4096;
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return 2;
    const double start = Seconds();
    UniqueInternet session(::WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0));
    UniqueInternet connection(::WinHttpConnect(session.get(), host, parts.nPort, 0));
    UniqueInternet request(::WinHttpOpenRequest(connection.get(), L"GET", target, nullptr, WINHTTP_NO_REFERER,
                                                WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!request || !::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                                          0, 0, 0) ||
        !::WinHttpReceiveResponse(request.get(), nullptr)) {
        return 2;
    }
    UniqueHandle file;
    if (path != nullptr) {
        file.reset(::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
        if (!file) return 2;
    }
    std::vector<char> buffer(kChunk);
    long long total = 0;
    bool ok = true;
    for (;;) {
        DWORD received = 0;
        if (!::WinHttpReadData(request.get(), buffer.data(), kChunk, &received)) {
            ok = false;
            break;
        }
        if (received == 0) break;
        DWORD written = 0;
        if (file && !::WriteFile(file.get(), buffer.data(), received, &written, nullptr)) return 2;
        total += received;
    }
    if (file) ::FlushFileBuffers(file.get());
    file.reset();
    PrintResult(ok, total, Seconds() - start);
    return ok ? 0 : 1;
}

int BcryptLoop(const wchar_t* path) {
    const double start = Seconds();
    UniqueHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return 2;
    UniqueAlgorithm algorithm;
    UniqueHash hash;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(::BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0))) {
        return 2;
    }
    std::vector<UCHAR> buffer(kChunk);
    long long total = 0;
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer.data(), kChunk, &read, nullptr) && read > 0) {
        ::BCryptHashData(hash.get(), buffer.data(), read, 0);
        total += read;
    }
    UCHAR digest[32];
    ::BCryptFinishHash(hash.get(), digest, sizeof(digest), 0);
    const double seconds = Seconds() - start;
    std::printf("digest=%s\n", LowerHex(digest, sizeof(digest)).c_str());
    PrintResult(true, total, seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const StopFlag neverStop{false};
    const std::string mode = argv[1];
    const std::wstring first = Utf8ToUtf16(argv[2]);
    if (mode == "engine" && argc == 6) {
        const std::wstring part = Utf8ToUtf16(argv[3]);
        const long long offset = std::atoll(argv[4]);
        const long long expected = std::atoll(argv[5]);
        std::wstring error;
        const double start = Seconds();
        const bool ok = RangedDownload(first, part, offset, expected, neverStop, error);
        const double seconds = Seconds() - start;
        PrintResult(ok, expected - offset, seconds);
        if (!ok) std::printf("error=%s\n", Utf16ToUtf8(error).c_str());
        PrintMemory();
        return ok ? 0 : 1;
    }
    if (mode == "bare" && argc == 4) return BareLoop(first, Utf8ToUtf16(argv[3]).c_str());
    if (mode == "readonly") return BareLoop(first, nullptr);
    if (mode == "sha") {
        const double start = Seconds();
        const std::string digest = Sha256FileHex(first, neverStop);
        const double seconds = Seconds() - start;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        ::GetFileAttributesExW(first.c_str(), GetFileExInfoStandard, &data);
        std::printf("digest=%s\n", digest.c_str());
        PrintResult(true, (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, seconds);
        return 0;
    }
    if (mode == "bcrypt") return BcryptLoop(first.c_str());
    return 2;
}
