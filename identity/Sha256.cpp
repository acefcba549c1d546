#include "identity/Sha256.h"

#include <stdexcept>
#include <vector>

#include "common/Handles.h"

namespace orivanta {
namespace {

constexpr DWORD kReadChunkBytes = 65536;

// One CNG hash object with the buffers it needs; results unchecked where the
// callers accept a provider failure silently.
struct Sha256Context {
    UniqueAlgorithm algorithm;
    std::vector<UCHAR> object;
    std::vector<UCHAR> digest;
    UniqueHash hash;

    NTSTATUS Open() {
        return ::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    }
    NTSTATUS Create() {
        DWORD objectLength = 0;
        DWORD digestLength = 0;
        ULONG written = 0;
        ::BCryptGetProperty(algorithm.get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                            sizeof(objectLength), &written, 0);
        ::BCryptGetProperty(algorithm.get(), BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&digestLength),
                            sizeof(digestLength), &written, 0);
        object.assign(objectLength, 0);
        digest.assign(digestLength, 0);
        return ::BCryptCreateHash(algorithm.get(), hash.put(), object.data(), objectLength, nullptr, 0, 0);
    }
    void Add(const void* data, size_t size) {
        ::BCryptHashData(hash.get(), static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(size), 0);
    }
    std::string FinishHex() {
        ::BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
        hash.reset();
        return LowerHex(digest.data(), digest.size());
    }
};

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
    if (!BCRYPT_SUCCESS(context.Open())) throw std::runtime_error("SHA256 provider failed");
    if (!BCRYPT_SUCCESS(context.Create())) throw std::runtime_error("SHA256 init failed");
    context.Add(bytes.data(), bytes.size());
    return context.FinishHex();
}

std::string Sha256FileHex(const std::wstring& path, const StopFlag& stop) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) throw std::runtime_error("cannot open downloaded file");
    Sha256Context context;
    context.Open();
    context.Create();
    std::vector<char> buffer(kReadChunkBytes);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer.data(), kReadChunkBytes, &read, nullptr) || read == 0) break;
        context.Add(buffer.data(), read);
        if (stop.load()) throw std::runtime_error("paused");
    }
    file.reset();
    return context.FinishHex();
}

}  // namespace orivanta
