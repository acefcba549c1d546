#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>
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
    } cases[] = {
        {ERROR_SUCCESS, pinned, pins, SignatureVerdict::Trusted},
        {ERROR_SUCCESS, std::string(64, 'c'), pins, SignatureVerdict::ForeignSigner},
        {TRUST_E_NOSIGNATURE, "", pins, SignatureVerdict::Unsigned},
        {TRUST_E_BAD_DIGEST, pinned, pins, SignatureVerdict::NotVerified},
        {CERT_E_UNTRUSTEDROOT, pinned, pins, SignatureVerdict::NotVerified},
        {ERROR_SUCCESS, "", pins, SignatureVerdict::NotVerified},
        {TRUST_E_NOSIGNATURE, "", {}, SignatureVerdict::NotConfigured},
        {ERROR_SUCCESS, other, {}, SignatureVerdict::NotConfigured},
    };
    for (const auto& c : cases) {
        SignatureFacts facts;
        facts.trustStatus = c.status;
        facts.keyDigest = c.key;
        EXPECT_EQ(DecideSignature(facts, c.pins), c.verdict) << std::hex << c.status << " " << c.key;
    }
}

}  // namespace
}  // namespace orivanta
