#pragma once
// Where packages and per-user data live: the downloader root and the save
// folder, preferably the plainly named folder on the second fixed disk.

#include <string>

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

// The existing folder where packages are published: <data root>\packages,
// else D:\欧瑞凡达安装包 when D: is a fixed disk with room, the folder and its
// .cache are (or are made) protected folders and neither is a link, and it
// accepts a write; else <downloader root>\packages. Nothing about D: is ever
// reported; raises "create directory failed" only when the chosen fallback
// cannot be created.
std::wstring ChooseSaveFolder(const std::wstring& dataRoot);

}  // namespace orivanta
