#pragma once
// The two files per edition that let an interrupted download resume without
// the center counting it again: the session file (the session identifier the
// center knows) and the part file (the package bytes received so far).

#include <cstdint>
#include <string>

namespace orivanta {

// The session file's text with trailing CR, LF, blanks and tabs removed; empty
// when the file is missing, larger than 4,096 bytes or not valid UTF-8.
std::wstring ReadSessionText(const std::wstring& statePath);

// Exactly 36 characters that parse as a GUID once enclosed in braces.
bool IsValidSessionId(const std::wstring& text);

// The part file's size in bytes; 0 when it cannot be opened as it is (FileAsItIs).
std::int64_t PartFileSize(const std::wstring& partPath);

// Writes the identifier and CR LF atomically; false when that failed.
bool SaveSessionText(const std::wstring& statePath, const std::wstring& sessionId);

struct RestoredSession {
    std::wstring sessionText;  // a valid identifier, or empty
    std::int64_t resumeOffset = 0;
};

// The restore at the start of every run. An invalid session text discards both
// files; bytes without a session are discarded too, because the center could
// not tell which download they belong to. Each is deleted as it is (DeleteFileAsItIs).
RestoredSession RestoreSession(const std::wstring& statePath, const std::wstring& partPath);

}  // namespace orivanta
