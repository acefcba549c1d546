#pragma once
#include <string>

#include "common/StopFlag.h"

namespace orivanta {

// Lower-case hexadecimal, two characters per byte, high nibble first.
std::string LowerHex(const void* data, size_t size);

// 64 hexadecimal digits of either case: a digest as stored or sent by others.
bool IsDigestText(const std::string& text);
// The text with "A".."Z" lower-cased; digests from outside are compared in this form.
std::string LowerCaseDigest(std::string text);

// SHA-256 digest text of a byte string; raises "SHA256 provider failed" / "SHA256 init failed".
std::string Sha256Hex(const std::string& bytes);

// SHA-256 digest text of a file read in 64 KiB chunks. Raises "cannot open
// downloaded file", or "paused" when stop is set after a chunk.
std::string Sha256FileHex(const std::wstring& path, const StopFlag& stop);

}  // namespace orivanta
