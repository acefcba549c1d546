#include "identity/PublisherSignature.h"

#include <algorithm>
#include <cwchar>
#include <stdexcept>

#include "common/Handles.h"
#include "common/SupportHotline.h"
#include "common/Utf.h"
#include "identity/PublisherPins.h"
#include "identity/Sha256.h"

namespace orivanta {
namespace {

struct VerdictTexts {
    SignatureVerdict verdict;
    const wchar_t* user;    // the window's reason; empty when the check passed
    const wchar_t* report;  // the exit report's word for the outcome
};

constexpr VerdictTexts kVerdictTexts[] = {
    {SignatureVerdict::NotConfigured, L"", L"未配置"},
    {SignatureVerdict::Trusted, L"", L"通过"},
    {SignatureVerdict::Unsigned, L"安装包没有数字签名", L"未通过，安装包没有数字签名"},
    {SignatureVerdict::NotVerified, L"安装包的数字签名未通过校验", L"未通过，数字签名无效"},
    {SignatureVerdict::ForeignSigner, L"安装包的数字签名不属于欧瑞凡达", L"未通过，签名者不是受信任的发布者"},
    {SignatureVerdict::HiddenData, L"安装包的签名区夹带了签名以外的数据", L"未通过，证书表含有签名以外的数据"},
};

// What the report says the certificate table holds besides the signature.
const wchar_t* TableFaultText(CertificateTableFault fault) {
    switch (fault) {
    case CertificateTableFault::Malformed:
        return L"证书表结构无效";
    case CertificateTableFault::NotAtEnd:
        return L"证书表之后还有数据";
    case CertificateTableFault::SecondEntry:
        return L"证书表含有第二项";
    case CertificateTableFault::TrailingBytes:
        return L"签名之后还有数据";
    case CertificateTableFault::None:
        break;
    }
    return L"";
}

const VerdictTexts& TextsOf(SignatureVerdict verdict) {
    return *std::find_if(std::begin(kVerdictTexts), std::end(kVerdictTexts),
                         [verdict](const VerdictTexts& texts) { return texts.verdict == verdict; });
}

std::wstring SubjectText(const CERT_CONTEXT* certificate) {
    CERT_NAME_BLOB& name = certificate->pCertInfo->Subject;
    const DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    const DWORD length = ::CertNameToStrW(X509_ASN_ENCODING, &name, type, nullptr, 0);
    std::wstring text(length, L'\0');
    ::CertNameToStrW(X509_ASN_ENCODING, &name, type, text.data(), length);
    text.resize(length > 0 ? length - 1 : 0);
    return text;
}

std::wstring DisplayName(const CERT_CONTEXT* certificate) {
    const DWORD length = ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    std::wstring text(length, L'\0');
    ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, text.data(), length);
    text.resize(length > 0 ? length - 1 : 0);
    return text;
}

std::wstring StatusText(LONG status) {
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"0x%08lX", static_cast<unsigned long>(status));
    return text;
}

}  // namespace

std::string PublicKeyDigest(const CERT_PUBLIC_KEY_INFO& key) {
    UniqueLocalMemory encoded;
    DWORD size = 0;
    if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &key, CRYPT_ENCODE_ALLOC_FLAG, nullptr,
                               encoded.put(), &size)) {
        throw std::runtime_error("public key encoding failed");
    }
    return Sha256Hex(std::string(static_cast<const char*>(encoded.get()), size));
}

SignatureFacts ReadSignature(HANDLE file, const std::wstring& path) {
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;
    TrustVerification verification;
    WINTRUST_DATA& data = verification.data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    // Clinics are often cut off from the certificate authorities: nothing is fetched.
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;

    SignatureFacts facts;
    facts.tableFault = InspectCertificateTable(file);
    // The hashing has left the handle at the end of the file, and the inspection elsewhere.
    LARGE_INTEGER start{};
    ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    facts.trustStatus = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &verification.action, &data);
    if (data.hWVTStateData == nullptr) return facts;
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer = provider ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* certificate = signer ? ::WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    if (certificate == nullptr || certificate->pCert == nullptr) return facts;
    facts.signer = DisplayName(certificate->pCert);
    facts.subject = SubjectText(certificate->pCert);
    facts.keyDigest = PublicKeyDigest(certificate->pCert->pCertInfo->SubjectPublicKeyInfo);
    return facts;
}

SignatureVerdict DecideSignature(const SignatureFacts& facts, std::span<const std::string> pins) {
    if (pins.empty()) return SignatureVerdict::NotConfigured;
    // Windows makes this check only where the registry opts in; the signature does not cover it.
    if (facts.tableFault != CertificateTableFault::None) return SignatureVerdict::HiddenData;
    if (facts.trustStatus == TRUST_E_NOSIGNATURE) return SignatureVerdict::Unsigned;
    if (facts.trustStatus != ERROR_SUCCESS || facts.keyDigest.empty()) return SignatureVerdict::NotVerified;
    return std::find(pins.begin(), pins.end(), facts.keyDigest) != pins.end() ? SignatureVerdict::Trusted
                                                                                : SignatureVerdict::ForeignSigner;
}

SignatureCheck CheckPublisherSignature(HANDLE file, const std::wstring& path) {
    const std::span<const std::string> pins = PublisherPins();
    if (pins.empty()) return {};
    SignatureCheck check;
    check.facts = ReadSignature(file, path);
    check.verdict = DecideSignature(check.facts, pins);
    return check;
}

std::wstring SignatureFailureText(const SignatureCheck& check) {
    if (check.Passed()) return L"";
    std::wstring text = TextsOf(check.verdict).user;
    if (!check.facts.signer.empty()) text += L"（签名者：" + check.facts.signer + L"）";
    return text + L"，已停止安装。请联系客服 " + SupportHotlineText() + L"。";
}

std::wstring SignatureReportText(const SignatureCheck& check) {
    std::wstring text = TextsOf(check.verdict).report;
    if (check.verdict == SignatureVerdict::NotConfigured) return text;
    text += L"（";
    if (check.facts.tableFault != CertificateTableFault::None) {
        text += std::wstring(TableFaultText(check.facts.tableFault)) + L"，";
    }
    text += L"WinVerifyTrust " + StatusText(check.facts.trustStatus);
    if (!check.facts.subject.empty()) text += L"，签名者：" + check.facts.subject;
    if (!check.facts.keyDigest.empty()) text += L"，公钥 SHA-256：" + Utf8ToUtf16(check.facts.keyDigest);
    return text + L"）";
}

}  // namespace orivanta
