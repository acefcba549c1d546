#pragma once
// A folder made for one launch of an installer, holding nothing but that
// installer. A self-extracting installer loads DLLs (version.dll, cryptbase.dll,
// ...) from its own folder, so it must start from a folder in which nobody else
// could have put a file: not the publish folder, whatever it holds.

#include <functional>
#include <string>

#include "common/FolderRecords.h"
#include "common/Handles.h"

namespace orivanta {

// Launch folders' names begin with it; nothing else in their parent is touched.
inline constexpr wchar_t kLaunchFolderPrefix[] = L"OrivantaLaunch-";

// "<Windows>\Temp", where elevated programs keep their working folders: standard
// users may add entries there, but cannot open or change an administrator's
// folder. Empty when the Windows folder is unknown. Under a diagnostic data root
// "<root>\launch" instead, so that a launch changes nothing outside the root.
std::wstring LaunchFolderParent(const std::wstring& dataRoot);

// Where the launch folders' IDs are kept: kFolderRecords, or under a data root
// files in its launch folder parent (RecordsInFolder).
FolderRecords LaunchFolderRecords(const std::wstring& dataRoot);

// The prefix and a fresh GUID.
std::wstring RandomLaunchFolderName();

class LaunchFolder {
public:
    // Creates a new folder in parent with the protected DACL, under the first of a
    // few names from `names` that did not exist yet: a folder found under a name
    // may be anyone's and is never taken. Its ID is recorded, so that only folders
    // made here are ever removed. The parent must be a plain drive path with no
    // reparse point on it. Raises "launch folder could not be created".
    static LaunchFolder Create(const std::wstring& parent,
                               const std::function<std::wstring()>& names = RandomLaunchFolderName,
                               const FolderRecords& records = kFolderRecords);

    LaunchFolder(LaunchFolder&&) noexcept = default;
    LaunchFolder& operator=(LaunchFolder&&) noexcept = default;
    // A folder still held is removed with what it holds: a failed launch leaves nothing behind.
    ~LaunchFolder();

    const std::wstring& Path() const { return path_; }
    // Leaves the folder to the installer that runs from it.
    void Release() { handle_.reset(); }

private:
    LaunchFolder(UniqueHandle handle, std::wstring path, const FolderRecords& records)
        : handle_(std::move(handle)), path_(std::move(path)), records_(records) {}

    // Open without delete sharing: nobody can rename it away or put a link in its place.
    // It has no delete access itself: that would refuse every open that does not share
    // deletion, the installer's own of its current folder among them.
    UniqueHandle handle_;
    std::wstring path_;
    FolderRecords records_;
};

// Removes the launch folders in parent whose installer no longer runs. Only a
// folder whose ID was recorded at its creation is ours: anyone may make one of
// that name in the temp folder, and it is never opened beyond its ID. The
// programs in a folder are deleted first, and a running program's file cannot
// be: then the folder keeps the rest. Everything is listed and deleted through
// handles of held folders; a link is neither followed nor removed, and the folder
// holding it stays. Never raises.
void RemoveFinishedLaunchFolders(const std::wstring& parent, const FolderRecords& records = kFolderRecords);

}  // namespace orivanta
