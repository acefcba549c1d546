#pragma once
// The certificate table of a Windows program (PE data directory 4), which
// Authenticode leaves out of the file's digest. Whatever it holds besides the
// signature is therefore unsigned, and a loader of such a file (a self-extracting
// installer reading its own tail) could run it. A package's table must hold
// exactly one signature and end the file.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace orivanta {

enum class CertificateTableFault {
    None,           // no table, or one signature and at most its alignment's zero bytes
    Malformed,      // out of the file's bounds, inconsistent, or no PKCS#7 signature
    NotAtEnd,       // bytes follow the table in the file
    SecondEntry,    // the table holds more than its first entry
    TrailingBytes,  // bytes after the signature within the table, beyond its alignment
};

// Reads exactly size bytes at offset of the file; false when it cannot.
using FileBytesReader = std::function<bool(std::uint64_t offset, void* buffer, std::size_t size)>;

// Every field is read as hostile: bounds and sizes are checked in 64 bits before
// any byte is read, and only headers and the bytes after the signature are read.
// A file that is no PE32 or PE32+ program has no table here (its signature cannot verify).
CertificateTableFault InspectCertificateTable(std::uint64_t fileSize, const FileBytesReader& read);

// The same for an open file, read through its handle.
CertificateTableFault InspectCertificateTable(HANDLE file);

}  // namespace orivanta
