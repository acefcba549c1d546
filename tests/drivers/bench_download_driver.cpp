// Measures the download engine and the file hashing next to bare loops over the
// same URL and file, for tools/bench/bench_download.py. One measurement per run;
// prints key=value lines.
//
//   engine <url> <part path> <offset> <expected size>   RangedDownload
//   bare <url> <file path>                              the engine's request, read loop writing a file
//   readonly <url>                                      the engine's request, read loop, bytes discarded
//   rounds <url> <part path> <file path> <size> <n>     n rounds of the three above, back to back in this
//                                                       process, the order rotating; seconds per side and round
//   retried <url> <part path> <size>                    the workflow's transfer, tried again after each cut
//   sha <file path>                                     Sha256FileHex
//   bcrypt <file path>                                  BCrypt loop over 64 KiB reads
//   launch <package> <sha256> <launch parent> sha|road  a reused package's road from the start of its
//                                                       verification to its installer's process, and one
//                                                       Sha256FileHex pass, the one named first first

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Handles.h"
#include "common/Utf.h"
#include "download/FolderAndLaunch.h"
#include "download/RangedDownload.h"
#include "identity/Sha256.h"
#include "net/HttpAbort.h"
#include "net/HttpExchange.h"
#include "workflow/TransferRetries.h"

using namespace orivanta;

namespace {

constexpr DWORD kChunk = 65536;
const StopFlag kNeverStop{false};

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

long long FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void PrintResult(bool ok, long long bytes, double seconds) {
    std::printf("ok=%d\nbytes=%lld\nseconds=%.6f\n", ok ? 1 : 0, bytes, seconds);
}

struct Transfer {
    bool started = false;  // the request could be opened and answered 200
    bool ok = false;
    long long bytes = 0;
    double seconds = 0.0;
};

// The engine's request, read in 64 KiB chunks without the engine's own work
// (range, progress, pause), optionally written to a file. Not ok when it could not run.
Transfer BareLoop(const std::wstring& url, const wchar_t* path) {
    Transfer transfer;
    const double start = Seconds();
    HttpExchange exchange(url, L"GET", kNodeMaxPathChars, kNodeTimeouts);
    if (exchange.stage() != HttpStage::Ready || !exchange.Send(L"", WINHTTP_NO_REQUEST_DATA, 0) ||
        exchange.status() != 200) {
        return transfer;
    }
    UniqueHandle file;
    if (path != nullptr) {
        file.reset(::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
        if (!file) return transfer;
    }
    const std::unique_ptr<char[]> buffer(new char[kChunk]());
    transfer.started = true;
    transfer.ok = true;
    for (;;) {
        DWORD received = 0;
        if (!exchange.Read(buffer.get(), kChunk, received)) {
            transfer.ok = false;
            break;
        }
        if (received == 0) break;
        DWORD written = 0;
        if (file && (!::WriteFile(file.get(), buffer.get(), received, &written, nullptr) || written != received)) {
            transfer.ok = false;
            break;
        }
        transfer.bytes += received;
    }
    if (file) ::FlushFileBuffers(file.get());
    transfer.seconds = Seconds() - start;
    return transfer;
}

Transfer Engine(const std::wstring& url, const std::wstring& part, long long offset, long long expected,
                std::wstring& error) {
    Transfer transfer;
    const double start = Seconds();
    transfer.started = true;
    transfer.ok = RangedDownload(url, part, offset, expected, kNeverStop, error);
    transfer.seconds = Seconds() - start;
    transfer.bytes = expected - offset;
    return transfer;
}

int Rounds(const std::wstring& url, const std::wstring& part, const std::wstring& copy, long long size, int count) {
    const char* names[] = {"engine", "write", "read"};
    for (int round = 0; round < count; ++round) {
        for (int step = 0; step < 3; ++step) {
            const int side = (round + step) % 3;
            std::wstring error;
            const Transfer transfer = side == 0   ? Engine(url, part, 0, size, error)
                                      : side == 1 ? BareLoop(url, copy.c_str())
                                                  : BareLoop(url, nullptr);
            if (!transfer.ok || transfer.bytes != size) {
                std::printf("error=%s failed in round %d: %s\n", names[side], round, Utf16ToUtf8(error).c_str());
                return 1;
            }
            std::printf("%s.%d=%.6f\n", names[side], round, transfer.seconds);
        }
    }
    return 0;
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

// The reuse end's checks and launch as the worker makes them: the local copy verified
// through its copy into a launch folder, the copy's signature, the installer's process.
bool VerifyAndLaunch(const std::wstring& path, const std::string& sha256, const std::wstring& launchParent) {
    std::optional<LaunchCopy> copy;
    return VerifyByLaunchCopy(path, FileSize(path), sha256, {launchParent}, kNeverStop, copy).has_value() &&
           copy->Package().CheckPublisher().verdict == SignatureVerdict::Trusted && LaunchInstaller(std::move(*copy));
}

int LaunchRound(const std::wstring& path, const std::string& sha256, const std::wstring& launchParent, bool shaFirst) {
    for (const bool sha : {shaFirst, !shaFirst}) {
        const double start = Seconds();
        if (sha ? Sha256FileHex(path, kNeverStop) != sha256 : !VerifyAndLaunch(path, sha256, launchParent)) {
            std::printf("error=%s failed\n", sha ? "sha" : "road");
            return 1;
        }
        std::printf("%s=%.6f\n", sha ? "sha" : "road", Seconds() - start);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string mode = argv[1];
    const std::wstring first = Utf8ToUtf16(argv[2]);
    if (mode == "engine" && argc == 6) {
        std::wstring error;
        const Transfer transfer = Engine(first, Utf8ToUtf16(argv[3]), std::atoll(argv[4]), std::atoll(argv[5]), error);
        PrintResult(transfer.ok, transfer.bytes, transfer.seconds);
        if (!transfer.ok) std::printf("error=%s\n", Utf16ToUtf8(error).c_str());
        PrintMemory();
        return transfer.ok ? 0 : 1;
    }
    if ((mode == "bare" && argc == 4) || mode == "readonly") {
        const Transfer transfer = BareLoop(first, mode == "bare" ? Utf8ToUtf16(argv[3]).c_str() : nullptr);
        if (!transfer.started) return 2;
        PrintResult(transfer.ok, transfer.bytes, transfer.seconds);
        return transfer.ok ? 0 : 1;
    }
    if (mode == "rounds" && argc == 7) {
        return Rounds(first, Utf8ToUtf16(argv[3]), Utf8ToUtf16(argv[4]), std::atoll(argv[5]), std::atoi(argv[6]));
    }
    if (mode == "retried" && argc == 5) {
        // Giving up, or a URL the node refused (there is no renewal), ends the driver without figures.
        HttpAbort abort;
        const double start = Seconds();
        TransferWithRetries({first, Utf8ToUtf16(argv[3]), 0, std::atoll(argv[4]), L""}, {}, kNeverStop, abort,
                            SystemRetryClock());
        PrintResult(true, std::atoll(argv[4]), Seconds() - start);
        return 0;
    }
    if (mode == "sha") {
        const double start = Seconds();
        const std::string digest = Sha256FileHex(first, kNeverStop);
        const double seconds = Seconds() - start;
        std::printf("digest=%s\n", digest.c_str());
        PrintResult(true, FileSize(first), seconds);
        return 0;
    }
    if (mode == "bcrypt") return BcryptLoop(first.c_str());
    if (mode == "launch" && argc == 6) {
        return LaunchRound(first, argv[3], Utf8ToUtf16(argv[4]), std::string(argv[5]) == "sha");
    }
    return 2;
}
