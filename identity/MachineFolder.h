#pragma once
// The per-machine data folder: the device identity, the records and the history,
// which every later run reads as administrator.

#include <string>

#include "common/Handles.h"

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
// uses it. In normal use both "\Orivanta" and the folder below it are protected
// folders (EstablishProtectedFolder; the vendor folder by kParentFolder), held
// while the one below is established; a link at either place fails with
// MachineFolderLinkText, a foreign one that stays with MachineFolderForeignText.
// A diagnostic data root is the operator's own folder: there it is created like
// any folder and nothing is held. Raises "create directory failed" or
// "folder could not be secured" otherwise.
UniqueHandle EstablishMachineFolder(const std::wstring& dataRoot);

}  // namespace orivanta
