#pragma once
// Where packages and per-user data live: the downloader root and the save
// folder, preferably the plainly named folder on the second fixed disk.

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/HeldFolders.h"

namespace orivanta {

// The preferred save folder, used only when drive D: passes every probe.
inline constexpr wchar_t kPublishFolderD[] = L"D:\\欧瑞凡达安装包";

// Drive D: must offer strictly more than this to the current user.
inline constexpr unsigned long long kPublishFreeSpaceThreshold = 10ULL * 1024 * 1024 * 1024;

// A dataRoot that is not empty is the diagnostic data root: it replaces every
// usual data location.

// Per-user data root (not created): local application data + "\Orivanta\InstallerDownloader",
// or the data root itself. Raises "known folder failed".
std::wstring InstallerDownloaderRoot(const std::wstring& dataRoot);

// The folder InstallerDownloaderRoot(dataRoot) + "\" + relative and the levels
// above it, held as they are (HeldFolders), down from local application data
// (the same user's unelevated programs may change what it holds) or from the data
// root (HoldInDataRoot). Raises FolderLinkText, "create directory failed" or
// "known folder failed".
HeldFolders HoldInDownloaderRoot(const std::wstring& dataRoot, const std::wstring& relative);

struct SaveFolder {
    std::wstring path;
    // The folder and its .cache, open without delete sharing for as long as this
    // is kept, so that nobody can rename either away and put their own in its place.
    HeldFolders held;
};

// The drive's type (GetDriveTypeW).
UINT QueryDriveType(const wchar_t* root);
// Bytes of the drive available to the caller (GetDiskFreeSpaceExW); false when unknown.
bool QueryAvailableBytes(const wchar_t* root, std::uint64_t& bytes);
// The flags of the drive's file system (GetVolumeInformationW); false when unknown.
bool QueryFileSystemFlags(const wchar_t* root, DWORD& flags);

// What the choice asks of drive D:, replaceable so that file systems and disks
// the test machine lacks can be given.
struct PublishDriveProbe {
    UINT (*driveType)(const wchar_t* root) = QueryDriveType;
    bool (*availableBytes)(const wchar_t* root, std::uint64_t& bytes) = QueryAvailableBytes;
    bool (*fileSystemFlags)(const wchar_t* root, DWORD& flags) = QueryFileSystemFlags;
};

// D: is a fixed disk with more than kPublishFreeSpaceThreshold available, whose
// file system keeps ACLs: on FAT or exFAT (USB disks often report as fixed) the
// publish folder's DACL could not keep anyone out.
bool PublishDriveQualifies(const PublishDriveProbe& probe = {});

// The existing folder where packages are published, held with its .cache:
// <data root>\packages (HoldInDataRoot), else D:\欧瑞凡达安装包 when D: qualifies,
// the folder (a protected one) and its .cache (a private one) are established by
// EstablishProtectedFolder without refusal, and it accepts a write; else
// <downloader root>\packages (HoldInDownloaderRoot). Nothing about D: is ever
// reported; raises what the chosen folder's hold raises ("create directory
// failed", FolderLinkText).
SaveFolder ChooseSaveFolder(const std::wstring& dataRoot, const PublishDriveProbe& probe = {});

}  // namespace orivanta
