#pragma once
// The per-machine data folder: the device identity, the records and the history,
// which every later run reads as administrator.

#include <string>

#include "common/HeldFolders.h"

namespace orivanta {

// Not created here: the common application data folder +
// "\Orivanta\InstallerAssistant", or <dataRoot>\machine when a diagnostic data
// root is given.
std::wstring MachineFolder(const std::wstring& dataRoot);

// Why a run refuses a machine folder (or the vendor folder above it) that is a
// link or a mount point.
std::wstring MachineFolderLinkText(const std::wstring& link);
// Why a run refuses one that someone else built and that cannot be moved aside.
std::wstring MachineFolderForeignText(const std::wstring& folder);

// Makes the machine folder ready before any use and returns it held open, so
// that nobody can rename it away or put a link in its place while the run
// uses it. In normal use it is a protected folder (EstablishProtectedFolder),
// trusted by its recorded ID alone. The vendor folder "\Orivanta" above it is
// the vendor's: it is used as it is (HoldFolderAsItIs, created where missing
// with the security ProgramData passes on) and held too, but never judged,
// moved or changed. A link at either place fails with MachineFolderLinkText, a
// foreign machine folder that stays with MachineFolderForeignText. Under a
// diagnostic data root the root and its "machine" folder are held as they are
// (HoldInDataRoot). Raises "create directory failed" or "folder could not be
// secured" otherwise.
HeldFolders EstablishMachineFolder(const std::wstring& dataRoot);

}  // namespace orivanta
