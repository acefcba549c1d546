#pragma once
// A package file held open from the moment its hashing starts until its installer
// has started, so that the program that runs is exactly the file that was verified.
//
// The handle reads (and may rename or delete, for a download still to be
// published) and shares reading only. While it is open no other process can
// write, truncate, replace, rename or delete the file. The loader opens an image
// for reading and execution and shares reading and deletion, so the held file can
// still be started.

#include <cstdint>
#include <string>

#include "common/Handles.h"
#include "common/StopFlag.h"
#include "identity/PublisherSignature.h"

namespace orivanta {

class HeldPackage {
public:
    enum class Access { Read, ReadAndRename };

    // The file at path itself, never a folder, a device or a link found there.
    // Raises "cannot open downloaded file".
    static HeldPackage Open(const std::wstring& path, Access access);

    // Where the file is now.
    const std::wstring& Path() const { return path_; }
    // Its size in bytes; -1 when the system cannot say.
    std::int64_t Size() const;
    // The SHA-256 digest text of the whole file, read through the held handle;
    // raises as Sha256OpenFileHex does (StopRequested on a stop, a text on a failed read).
    std::string Sha256Hex(const StopFlag& stop) const;
    // Copies the whole file, read through the held handle, to a new file at path
    // (nothing may stand there) and holds the copy as this file is held (ReadAndRename);
    // digest receives the SHA-256 of the bytes written. Raises "cannot copy package"
    // when the copy cannot be made, and as Sha256CopyFileHex does.
    HeldPackage CopyTo(const std::wstring& path, std::string& digest, const StopFlag& stop) const;
    // The publisher check of the file read through the held handle (CheckPublisherSignature).
    SignatureCheck CheckPublisher() const { return CheckPublisherSignature(file_.get(), path_); }
    // Gives the file a new full path on the same volume, replacing a file found
    // there, without letting it go. Needs ReadAndRename; false when refused.
    bool MoveTo(const std::wstring& path);
    // Deletes the file this handle holds (not whatever its path names by then) and
    // lets it go. Needs ReadAndRename; false when refused.
    bool Delete();
    // Lets the file go: from now on others may open it as far as its rights allow.
    void Release() { file_.reset(); }

private:
    HeldPackage(UniqueHandle file, std::wstring path) : file_(std::move(file)), path_(std::move(path)) {}

    UniqueHandle file_;
    std::wstring path_;
};

}  // namespace orivanta
