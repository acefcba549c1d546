#include "workflow/SessionFiles.h"

#include <windows.h>
#include <objbase.h>

#include "common/AtomicFile.h"
#include "common/FileAsItIs.h"
#include "common/Handles.h"
#include "common/SmallTextFile.h"

namespace orivanta {

std::wstring ReadSessionText(const std::wstring& statePath) {
    return TrimTrailingWhitespace(ReadSmallTextFile(statePath));
}

bool IsValidSessionId(const std::wstring& text) {
    if (text.size() != 36) return false;
    const std::wstring braced = L"{" + text + L"}";
    CLSID parsed{};
    return SUCCEEDED(::CLSIDFromString(braced.c_str(), &parsed));
}

std::int64_t PartFileSize(const std::wstring& partPath) {
    const UniqueHandle file =
        OpenFileAsItIs(partPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    if (!file) return 0;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) return 0;
    return size.QuadPart;
}

bool SaveSessionText(const std::wstring& statePath, const std::wstring& sessionId) {
    return WriteFileAtomically(statePath, sessionId + L"\r\n");
}

RestoredSession RestoreSession(const std::wstring& statePath, const std::wstring& partPath) {
    RestoredSession restored;
    restored.sessionText = ReadSessionText(statePath);
    if (!restored.sessionText.empty() && !IsValidSessionId(restored.sessionText)) {
        DeleteFileAsItIs(statePath);
        DeleteFileAsItIs(partPath);
        restored.sessionText.clear();
    }
    restored.resumeOffset = PartFileSize(partPath);
    if (restored.sessionText.empty() && restored.resumeOffset > 0) {
        DeleteFileAsItIs(partPath);
        restored.resumeOffset = 0;
    }
    return restored;
}

}  // namespace orivanta
