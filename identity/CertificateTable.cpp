#include "identity/CertificateTable.h"

#include <algorithm>

namespace orivanta {
namespace {

constexpr std::uint64_t kDosHeaderBytes = 0x40;
constexpr std::uint64_t kNewHeaderOffsetField = 0x3C;
constexpr std::uint64_t kCoffHeaderBytes = 20;
constexpr std::uint64_t kOptionalHeaderSizeField = 16;  // in the COFF header
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kSecurityDirectory = 4;
constexpr std::uint64_t kDirectoryEntryBytes = 8;
constexpr std::uint64_t kEntryHeaderBytes = 8;  // WIN_CERTIFICATE without its bytes
constexpr std::uint16_t kCertificateRevision = 0x0200;
constexpr std::uint16_t kPkcsSignedData = 0x0002;
constexpr unsigned char kDerSequence = 0x30;

std::uint64_t AlignedTo8(std::uint64_t value) { return (value + 7) & ~std::uint64_t{7}; }

std::uint32_t Little(const unsigned char* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

// Reads little-endian fields within the file's bounds.
class Fields {
public:
    Fields(std::uint64_t fileSize, const FileBytesReader& read) : fileSize_(fileSize), read_(read) {}

    bool Read(std::uint64_t offset, void* buffer, std::size_t size) const {
        return offset <= fileSize_ && size <= fileSize_ - offset && read_(offset, buffer, size);
    }
    bool U16(std::uint64_t offset, std::uint16_t& value) const {
        unsigned char bytes[2];
        if (!Read(offset, bytes, sizeof(bytes))) return false;
        value = static_cast<std::uint16_t>(Little(bytes, 2));
        return true;
    }
    bool U32(std::uint64_t offset, std::uint32_t& value) const {
        unsigned char bytes[4];
        if (!Read(offset, bytes, sizeof(bytes))) return false;
        value = Little(bytes, 4);
        return true;
    }

private:
    std::uint64_t fileSize_;
    const FileBytesReader& read_;
};

// The DER header of the PKCS#7 blob: its whole length, header included; 0 when it is none.
std::uint64_t DerLength(const unsigned char* header, std::size_t available) {
    if (available < 2 || header[0] != kDerSequence) return 0;
    if (header[1] < 0x80) return 2 + std::uint64_t{header[1]};
    const std::size_t count = header[1] & 0x7F;
    // Indefinite lengths are no DER, and a signature beyond 4 GiB is no signature.
    if (count == 0 || count > 4 || available < 2 + count) return 0;
    std::uint64_t length = 0;
    for (std::size_t i = 0; i < count; ++i) length = (length << 8) | header[2 + i];
    return 2 + count + length;
}

}  // namespace

CertificateTableFault InspectCertificateTable(std::uint64_t fileSize, const FileBytesReader& read) {
    const Fields fields(fileSize, read);
    std::uint16_t dosMagic = 0;
    std::uint32_t newHeader = 0;
    std::uint32_t peSignature = 0;
    if (fileSize < kDosHeaderBytes || !fields.U16(0, dosMagic) || dosMagic != 0x5A4D ||
        !fields.U32(kNewHeaderOffsetField, newHeader) || !fields.U32(newHeader, peSignature) ||
        peSignature != 0x00004550) {
        return CertificateTableFault::None;
    }
    const std::uint64_t coff = std::uint64_t{newHeader} + 4;
    const std::uint64_t optional = coff + kCoffHeaderBytes;
    std::uint16_t optionalSize = 0;
    std::uint16_t magic = 0;
    if (!fields.U16(coff + kOptionalHeaderSizeField, optionalSize) || !fields.U16(optional, magic) ||
        (magic != kPe32Magic && magic != kPe32PlusMagic)) {
        return CertificateTableFault::Malformed;
    }
    // PE32+ widens four fields before the directory count from 32 to 64 bits.
    const std::uint64_t countField = magic == kPe32Magic ? 92 : 108;
    const std::uint64_t directories = countField + 4;
    std::uint32_t directoryCount = 0;
    if (!fields.U32(optional + countField, directoryCount)) return CertificateTableFault::Malformed;
    if (directoryCount <= kSecurityDirectory) return CertificateTableFault::None;
    const std::uint64_t entry = directories + kSecurityDirectory * kDirectoryEntryBytes;
    std::uint32_t tableOffset = 0;
    std::uint32_t tableSize = 0;
    if (optionalSize < entry + kDirectoryEntryBytes || !fields.U32(optional + entry, tableOffset) ||
        !fields.U32(optional + entry + 4, tableSize)) {
        return CertificateTableFault::Malformed;
    }
    if (tableSize == 0) return CertificateTableFault::None;

    // The directory holds a file offset, not an address, and both fit in 32 bits: no overflow in 64.
    const std::uint64_t tableEnd = std::uint64_t{tableOffset} + tableSize;
    if (tableOffset < optional + optionalSize || tableEnd > fileSize || tableSize < kEntryHeaderBytes) {
        return CertificateTableFault::Malformed;
    }
    if (tableEnd != fileSize) return CertificateTableFault::NotAtEnd;

    unsigned char header[kEntryHeaderBytes + 6] = {};
    const std::size_t headerBytes = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof(header), tableSize));
    if (!fields.Read(tableOffset, header, headerBytes)) return CertificateTableFault::Malformed;
    const std::uint64_t entryLength = Little(header, 4);
    if (entryLength <= kEntryHeaderBytes || entryLength > tableSize || Little(header + 4, 2) != kCertificateRevision ||
        Little(header + 6, 2) != kPkcsSignedData) {
        return CertificateTableFault::Malformed;
    }
    const std::uint64_t blob = DerLength(header + kEntryHeaderBytes, headerBytes - kEntryHeaderBytes);
    if (blob == 0 || kEntryHeaderBytes + blob > entryLength) return CertificateTableFault::Malformed;
    if (AlignedTo8(entryLength) < tableSize) return CertificateTableFault::SecondEntry;

    // What follows the blob may only be the zeros that align it.
    const std::uint64_t blobEnd = kEntryHeaderBytes + blob;
    if (tableSize > AlignedTo8(blobEnd)) return CertificateTableFault::TrailingBytes;
    unsigned char padding[8] = {};
    const std::size_t paddingBytes = static_cast<std::size_t>(tableSize - blobEnd);
    if (!fields.Read(tableOffset + blobEnd, padding, paddingBytes)) return CertificateTableFault::Malformed;
    for (std::size_t i = 0; i < paddingBytes; ++i) {
        if (padding[i] != 0) return CertificateTableFault::TrailingBytes;
    }
    return CertificateTableFault::None;
}

CertificateTableFault InspectCertificateTable(HANDLE file) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart < 0) return CertificateTableFault::Malformed;
    return InspectCertificateTable(static_cast<std::uint64_t>(size.QuadPart),
                                   [file](std::uint64_t offset, void* buffer, std::size_t bytes) {
                                       OVERLAPPED at{};
                                       at.Offset = static_cast<DWORD>(offset);
                                       at.OffsetHigh = static_cast<DWORD>(offset >> 32);
                                       DWORD read = 0;
                                       return ::ReadFile(file, buffer, static_cast<DWORD>(bytes), &read, &at) &&
                                              read == bytes;
                                   });
}

}  // namespace orivanta
