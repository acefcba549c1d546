#pragma once
#include <string>

namespace orivanta {

// Replaces the target with the UTF-8 form of the content through a flushed
// temporary file in the same folder ("<target>.<pid>.tmp", or "<target>.<GUID>.tmp"
// when something already stands at that name), so readers see either the old or
// the new file whole. The temporary file is always a new one, opened as it is
// (FileAsItIs). Never raises; false leaves the target as it was and no temporary
// file behind.
bool WriteFileAtomically(const std::wstring& target, const std::wstring& content);

}  // namespace orivanta
