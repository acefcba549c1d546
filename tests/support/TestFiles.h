#pragma once
// Scratch folders and small file helpers for the GoogleTest programs.

#include <string>
#include <vector>

namespace orivanta::test {

// A fresh folder under the system temporary folder, removed with its content on destruction.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& tag = L"test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

void WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);  // empty when missing
bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
void RemoveTree(const std::wstring& path);
// Names of the files directly inside a folder that match a wildcard pattern, in listing order.
std::vector<std::wstring> FileNames(const std::wstring& folder, const std::wstring& pattern);
// Files and folders alike that match the pattern, sorted.
std::vector<std::wstring> EntryNames(const std::wstring& folder, const std::wstring& pattern = L"*");
// How many files directly inside a folder match a wildcard pattern.
int CountFilesMatching(const std::wstring& folder, const std::wstring& pattern);
// A Unix symbolic link at link to target, made by the host's ln; Wine shows one to a
// folder as a folder that is a reparse point, one to a file as that file. True when
// the link exists afterwards.
bool MakeUnixSymbolicLink(const std::wstring& link, const std::wstring& target);
// Removes the link itself with the host's rm (Wine would delete a file link's target).
void RemoveUnixSymbolicLink(const std::wstring& link);

}  // namespace orivanta::test
