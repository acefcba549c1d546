#pragma once
#include <windows.h>

#include <stdexcept>
#include <string>

#include "common/StopFlag.h"

namespace orivanta {

// Lower-case hexadecimal, two characters per byte, high nibble first.
std::string LowerHex(const void* data, size_t size);

// 64 hexadecimal digits of either case: a digest as stored or sent by others.
bool IsDigestText(const std::string& text);
// The text with "A".."Z" lower-cased; digests from outside are compared in this form.
std::string LowerCaseDigest(std::string text);

// A read of the hashed file failed: that says nothing of the bytes it holds.
struct HashReadFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// SHA-256 digest text of a byte string; raises "SHA256 provider failed" / "SHA256 init failed".
std::string Sha256Hex(const std::string& bytes);

// SHA-256 digest text of an open file from its current position to its end, read
// in 64 KiB chunks. Raises StopRequested when stop is set after a chunk; a failed
// read raises HashReadFailed "读取文件失败：" and the system's text, a provider failure its own
// text: a digest is only ever returned for every byte of the file.
std::string Sha256OpenFileHex(HANDLE file, const StopFlag& stop);

// The same, writing every chunk to target as it is hashed: the digest of exactly
// the bytes written, with no second pass over either file. A failed write raises
// "写入文件失败：" and the system's text.
std::string Sha256CopyFileHex(HANDLE source, HANDLE target, const StopFlag& stop);

// The same for a file opened by path with FILE_SHARE_READ; raises "cannot open
// downloaded file" when it cannot be opened.
std::string Sha256FileHex(const std::wstring& path, const StopFlag& stop);

}  // namespace orivanta
