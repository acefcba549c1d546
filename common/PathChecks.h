#pragma once
// Checks on paths that the elevated program opens, hashes, publishes or starts:
// such a path must not lead to another computer, out of the folder it names, or
// through a link that someone else has placed on the way.

#include <string>

namespace orivanta {

// A full path on a drive letter, "X:\folder\name": not a network (UNC) or device
// path ("\\server\share", "\\?\", "\\.\"), no "/" separator, no empty, "." or ".."
// segment, no ":" after the drive's (alternate data streams) and no wildcard.
bool IsPlainDrivePath(const std::wstring& path);

// The drive of a plain drive path is a local fixed disk: not removable, optical,
// a RAM disk, a network drive or a letter without a volume.
bool IsOnLocalFixedDrive(const std::wstring& path);

// The item exists and is a reparse point: a junction, a symbolic link or a mount point.
bool IsReparsePoint(const std::wstring& path);

// Every folder of a plain drive path below the drive's root, and the item itself,
// exists and none is a reparse point.
bool ExistsWithoutReparsePoint(const std::wstring& path);

// The path names an item directly inside the folder; both are compared as written,
// without regard to letter case, so both should be plain drive paths.
bool LiesDirectlyIn(const std::wstring& path, const std::wstring& folder);

}  // namespace orivanta
