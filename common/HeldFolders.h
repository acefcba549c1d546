#pragma once
// Folders of the program's data that are used as they are (a diagnostic data
// root, the per-user root): anyone who prepared them may have put a junction or a
// symbolic link at any level, through which the elevated program would then
// create, write or delete files elsewhere. Each level is opened as it is, never
// through a link, and held without delete sharing, so that no path below it can
// be redirected while it is held.

#include <string>
#include <vector>

#include "common/Handles.h"

namespace orivanta {

// Why a run refuses a data folder that is a link or a mount point.
std::wstring FolderLinkText(const std::wstring& link);

class HeldFolders {
public:
    HeldFolders() = default;
    HeldFolders(HeldFolders&&) noexcept = default;
    HeldFolders& operator=(HeldFolders&&) noexcept = default;

    // Holds the folder (HoldFolderAsItIs): made where nothing stands, its parent
    // being there. Raises FolderLinkText for a link, "create directory failed" otherwise.
    void Hold(const std::wstring& folder);
    // Holds base + "\" + each level of relative in turn ("a\b": base\a, then
    // base\a\b), base itself not; returns the last.
    std::wstring HoldBelow(const std::wstring& base, const std::wstring& relative);
    // Keeps a folder held elsewhere, and what other holds keep.
    void Keep(UniqueHandle folder);
    void Keep(HeldFolders other);

private:
    std::vector<UniqueHandle> folders_;
};

// A diagnostic data root is the operator's: the levels above it are created as
// named (EnsureDirectory), the root itself and those below it are held. Returns
// the holds of the root and of root + "\" + relative with the levels between.
HeldFolders HoldInDataRoot(const std::wstring& dataRoot, const std::wstring& relative);

}  // namespace orivanta
