#pragma once
// Where packages and per-user data live: the downloader root and the save
// folder, preferably the plainly named folder on the second fixed disk.

#include <string>

#include "common/Handles.h"

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

struct SaveFolder {
    std::wstring path;
    // On D:, the folder and its .cache, open without delete sharing for as long
    // as this is kept, so that nobody can rename either away and put their own
    // in its place; empty elsewhere.
    UniqueHandle folder;
    UniqueHandle cache;
};

// The existing folder where packages are published: <data root>\packages,
// else D:\欧瑞凡达安装包 when D: is a fixed disk with room, the folder (a
// protected one) and its .cache (a private one) are established by
// EstablishProtectedFolder without refusal, and it accepts a write; else
// <downloader root>\packages. Nothing about D: is ever reported; raises
// "create directory failed" only when the chosen fallback cannot be created.
SaveFolder ChooseSaveFolder(const std::wstring& dataRoot);

}  // namespace orivanta
