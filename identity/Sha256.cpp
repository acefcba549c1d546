#include "identity/Sha256.h"

#include <stdexcept>
#include <vector>

#include "common/Handles.h"
#include "common/SystemErrorText.h"
#include "common/Utf.h"

namespace orivanta {
namespace {

constexpr DWORD kReadChunkBytes = 65536;

constexpr char kReadFailedText[] = "读取文件失败：";
constexpr char kWriteFailedText[] = "写入文件失败：";

// One CNG hash object with the buffers it needs. Every step raises on failure:
// a digest that silently skipped bytes would be a wrong one.
struct Sha256Context {
    UniqueAlgorithm algorithm;
    std::vector<UCHAR> object;
    std::vector<UCHAR> digest;
    UniqueHash hash;

    Sha256Context() {
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
            throw std::runtime_error("SHA256 provider failed");
        }
        DWORD objectLength = 0;
        DWORD digestLength = 0;
        ULONG written = 0;
        ::BCryptGetProperty(algorithm.get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                            sizeof(objectLength), &written, 0);
        ::BCryptGetProperty(algorithm.get(), BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&digestLength),
                            sizeof(digestLength), &written, 0);
        object.assign(objectLength, 0);
        digest.assign(digestLength, 0);
        if (!BCRYPT_SUCCESS(
                ::BCryptCreateHash(algorithm.get(), hash.put(), object.data(), objectLength, nullptr, 0, 0))) {
            throw std::runtime_error("SHA256 init failed");
        }
    }
    void Add(const void* data, size_t size) {
        if (!BCRYPT_SUCCESS(::BCryptHashData(hash.get(), static_cast<PUCHAR>(const_cast<void*>(data)),
                                             static_cast<ULONG>(size), 0))) {
            throw std::runtime_error("SHA256 update failed");
        }
    }
    std::string FinishHex() {
        if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0))) {
            throw std::runtime_error("SHA256 finish failed");
        }
        hash.reset();
        return LowerHex(digest.data(), digest.size());
    }
};

std::string LastErrorText(const char* prefix) { return prefix + Utf16ToUtf8(SystemErrorText(::GetLastError())); }

// The digest of file from its position to its end; each chunk is written to target too, unless it is null.
std::string HashChunks(HANDLE file, HANDLE target, const StopFlag& stop) {
    Sha256Context context;
    std::vector<char> buffer(kReadChunkBytes);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer.data(), kReadChunkBytes, &read, nullptr)) {
            throw HashReadFailed(LastErrorText(kReadFailedText));
        }
        if (read == 0) break;
        context.Add(buffer.data(), read);
        DWORD written = 0;
        if (target != nullptr && (!::WriteFile(target, buffer.data(), read, &written, nullptr) || written != read)) {
            throw std::runtime_error(LastErrorText(kWriteFailedText));
        }
        if (stop.load()) throw StopRequested();
    }
    return context.FinishHex();
}

}  // namespace

std::string LowerHex(const void* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

bool IsDigestText(const std::string& text) {
    if (text.size() != 64) return false;
    for (const char c : text) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex) return false;
    }
    return true;
}

std::string LowerCaseDigest(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string Sha256Hex(const std::string& bytes) {
    Sha256Context context;
    context.Add(bytes.data(), bytes.size());
    return context.FinishHex();
}

std::string Sha256OpenFileHex(HANDLE file, const StopFlag& stop) { return HashChunks(file, nullptr, stop); }

std::string Sha256CopyFileHex(HANDLE source, HANDLE target, const StopFlag& stop) {
    return HashChunks(source, target, stop);
}

std::string Sha256FileHex(const std::wstring& path, const StopFlag& stop) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) throw std::runtime_error("cannot open downloaded file");
    return Sha256OpenFileHex(file.get(), stop);
}

}  // namespace orivanta
