#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "TestFiles.h"
#include "common/Handles.h"
#include "common/Utf.h"
#include "identity/PublisherSignature.h"

namespace orivanta {
namespace {

// The development fixtures' certificate as committed, as this program can open it.
std::string FixtureCertificate(const char* name) {
    std::wstring path = L"Z:" + Utf8ToUtf16(std::getenv("ORIVANTA_SOURCE_DIR")) + L"/tools/devcenter/dev-signing/" +
                        Utf8ToUtf16(name) + L".crt";
    return test::ReadBytes(path);
}

TEST(PublicKeyDigest, EqualsOpensslDigestOfTheCertificatesKey) {
    // openssl x509 -noout -pubkey | openssl pkey -pubin -outform DER | openssl dgst -sha256
    const struct {
        const char* certificate;
        const char* digest;
    } cases[] = {
        {"publisher", "5f9cf4f8dc416304e9ad623b9408dbb6afc91957cb20fe3bcb80bece4c3125cf"},
        {"second-publisher", "3547af5f044c48680cf91e24c1b90831f2e41429a5ac98127af2061c30ab9ac7"},
        {"foreign-publisher", "a58db45e0f430562241459a1159d753311f445070bceccbf918f63073e3e003d"},
    };
    for (const auto& c : cases) {
        const std::string pem = FixtureCertificate(c.certificate);
        DWORD size = 0;
        ASSERT_TRUE(::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                           nullptr, &size, nullptr, nullptr))
            << c.certificate;
        std::vector<BYTE> der(size);
        ::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                               &size, nullptr, nullptr);
        UniqueLocalMemory info;
        DWORD infoSize = 0;
        ASSERT_TRUE(::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, der.data(), size,
                                          CRYPT_DECODE_ALLOC_FLAG, nullptr, info.put(), &infoSize));
        EXPECT_EQ(PublicKeyDigest(static_cast<CERT_INFO*>(info.get())->SubjectPublicKeyInfo), c.digest)
            << c.certificate;
    }
}

TEST(DecideSignature, OnlyAVerifiedSignatureByAPinnedKeyPasses) {
    const std::string pinned(64, 'a');
    const std::string other(64, 'b');
    const std::vector<std::string> pins = {other, pinned};
    const struct {
        LONG status;
        std::string key;
        std::vector<std::string> pins;
        SignatureVerdict verdict;
        CertificateTableFault fault = CertificateTableFault::None;
    } cases[] = {
        {ERROR_SUCCESS, pinned, pins, SignatureVerdict::Trusted},
        {ERROR_SUCCESS, std::string(64, 'c'), pins, SignatureVerdict::ForeignSigner},
        {TRUST_E_NOSIGNATURE, "", pins, SignatureVerdict::Unsigned},
        {TRUST_E_BAD_DIGEST, pinned, pins, SignatureVerdict::NotVerified},
        {CERT_E_UNTRUSTEDROOT, pinned, pins, SignatureVerdict::NotVerified},
        {ERROR_SUCCESS, "", pins, SignatureVerdict::NotVerified},
        {TRUST_E_NOSIGNATURE, "", {}, SignatureVerdict::NotConfigured},
        {ERROR_SUCCESS, other, {}, SignatureVerdict::NotConfigured},
        {ERROR_SUCCESS, pinned, pins, SignatureVerdict::HiddenData, CertificateTableFault::TrailingBytes},
        {TRUST_E_NOSIGNATURE, "", pins, SignatureVerdict::HiddenData, CertificateTableFault::Malformed},
    };
    for (const auto& c : cases) {
        SignatureFacts facts;
        facts.trustStatus = c.status;
        facts.keyDigest = c.key;
        facts.tableFault = c.fault;
        EXPECT_EQ(DecideSignature(facts, c.pins), c.verdict) << std::hex << c.status << " " << c.key;
    }
}

std::string Le(std::uint32_t value, int bytes) {
    std::string text;
    for (int i = 0; i < bytes; ++i) text += static_cast<char>((value >> (8 * i)) & 0xFF);
    return text;
}

// A WIN_CERTIFICATE entry: its length field, revision 2.0, the type, then the bytes.
std::string Entry(const std::string& bytes, std::uint32_t length, std::uint16_t type = 2) {
    return Le(length, 4) + Le(0x0200, 2) + Le(type, 2) + bytes;
}

// A program's headers (PE at 0x80), then its certificate table at 0x200 as the
// directory states it: offset and size 0 stand for where it is and how long.
std::string Program(bool pe32Plus, const std::string& table, std::uint32_t offset = 0, std::uint32_t size = 0,
                    std::uint16_t optionalSize = 0) {
    std::string file(0x200, '\0');
    const auto put = [&file](std::size_t at, const std::string& bytes) { file.replace(at, bytes.size(), bytes); };
    const std::size_t directoryCount = 0x98 + (pe32Plus ? 108 : 92);
    put(0, "MZ");
    put(0x3C, Le(0x80, 4));
    put(0x80, std::string("PE\0\0", 4));
    put(0x94, Le(optionalSize ? optionalSize : pe32Plus ? 0xF0 : 0xE0, 2));
    put(0x98, Le(pe32Plus ? 0x20B : 0x10B, 2));
    put(directoryCount, Le(16, 4));
    const auto tableSize = static_cast<std::uint32_t>(table.size());
    put(directoryCount + 36, Le(offset ? offset : table.empty() ? 0 : 0x200, 4) + Le(size ? size : tableSize, 4));
    return file + table;
}

TEST(CertificateTable, OnlyOneSignatureEndingTheFilePasses) {
    // A DER SEQUENCE of 305 bytes in all; its entry of 313 bytes is padded to 320.
    const std::string blob = "\x30\x82\x01\x2D" + std::string(301, 'S');
    const std::string padding(7, '\0');
    const std::string signature = Entry(blob, 313) + padding;
    using F = CertificateTableFault;
    const struct {
        const char* what;
        std::string file;
        F fault;
    } cases[] = {
        {"one signature", Program(false, signature), F::None},
        {"one signature, PE32+", Program(true, signature), F::None},
        {"length counting the padding", Program(false, Entry(blob, 320) + padding), F::None},
        {"no table", Program(false, ""), F::None},
        {"no program", std::string(0x200, 'P') + signature, F::None},
        {"bytes after the signature", Program(true, Entry(blob + std::string(16, 'X'), 329) + padding), F::TrailingBytes},
        {"padding that is not zero", Program(false, Entry(blob, 313) + std::string("\0\0\0X\0\0\0", 7)), F::TrailingBytes},
        {"a second entry", Program(false, signature + signature), F::SecondEntry},
        {"bytes after the table", Program(false, signature) + "tail", F::NotAtEnd},
        {"table past the end", Program(false, signature, 0, 328), F::Malformed},
        {"offset and size past 32 bits", Program(true, signature, 0xFFFFFFF0, 0x20), F::Malformed},
        {"table inside the headers", Program(false, signature, 0x100, 0x220), F::Malformed},
        {"entry longer than the table", Program(false, Entry(blob, 400) + padding), F::Malformed},
        {"blob longer than its entry", Program(false, Entry("\x30\x84\xFF\xFF\xFF\xFF" + blob, 319) + '\0'), F::Malformed},
        {"no PKCS#7 signed data", Program(false, Entry(blob, 313, 1) + padding), F::Malformed},
        {"optional header without the entry", Program(false, signature, 0, 0, 0x60), F::Malformed},
    };
    for (const auto& c : cases) {
        const auto read = [&c](std::uint64_t at, void* buffer, std::size_t size) {
            return at <= c.file.size() && size <= c.file.size() - at && (std::memcpy(buffer, &c.file[at], size), true);
        };
        EXPECT_EQ(InspectCertificateTable(c.file.size(), read), c.fault) << c.what;
    }
}

}  // namespace
}  // namespace orivanta
