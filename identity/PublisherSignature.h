#pragma once
// The Authenticode signature of an installer package, and whether its signer is
// one of the publishers this build pins (see PublisherPins).

#include <windows.h>
#include <wincrypt.h>

#include <span>
#include <string>

#include "identity/CertificateTable.h"

namespace orivanta {

// What the system found in a file's signature.
struct SignatureFacts {
    LONG trustStatus = 0;   // WinVerifyTrust's result: 0 when the signature verified to a trusted root
    std::wstring signer;    // the signer certificate's display name; empty when there is none
    std::wstring subject;   // its full subject
    std::string keyDigest;  // SHA-256 of its DER SubjectPublicKeyInfo
    CertificateTableFault tableFault = CertificateTableFault::None;  // what the table holds besides the signature
};

enum class SignatureVerdict { NotConfigured, Trusted, Unsigned, NotVerified, ForeignSigner, HiddenData };

struct SignatureCheck {
    SignatureVerdict verdict = SignatureVerdict::NotConfigured;
    SignatureFacts facts;

    bool Passed() const { return verdict == SignatureVerdict::NotConfigured || verdict == SignatureVerdict::Trusted; }
};

// Digest text of the key as DER SubjectPublicKeyInfo. Pinning the key rather than
// the certificate survives a renewal that keeps the key. Raises on encoder failure.
std::string PublicKeyDigest(const CERT_PUBLIC_KEY_INFO& key);

// Verifies the signature of the open file without UI and without fetching anything
// over the network, and inspects its certificate table; path only names it. Reads
// the signer even when verification fails.
SignatureFacts ReadSignature(HANDLE file, const std::wstring& path);

// Without pins every file passes; otherwise only a verified signature by a pinned
// key, alone in its certificate table.
SignatureVerdict DecideSignature(const SignatureFacts& facts, std::span<const std::string> pins);

// The check before a launch, with the pins compiled into this build. Reads nothing
// when there are none.
SignatureCheck CheckPublisherSignature(HANDLE file, const std::wstring& path);

// The user's reason for a failed check; empty when the check passed.
std::wstring SignatureFailureText(const SignatureCheck& check);
// The check as the exit report states it, including signer, key digest and status.
std::wstring SignatureReportText(const SignatureCheck& check);

}  // namespace orivanta
