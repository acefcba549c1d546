#include "common/FolderRecords.h"

#include <stdexcept>

#include "common/AdministratorsOnly.h"
#include "common/Handles.h"

namespace orivanta {
namespace {

// Full control for SYSTEM and Administrators, nothing for anyone else.
constexpr wchar_t kRecordsKeySecurity[] = L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)";
// The same key whether the program is built for 32 or 64 bits.
constexpr REGSAM kView = KEY_WOW64_64KEY;

}  // namespace

bool ReadFolderId(HANDLE folder, FolderId& id) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(folder, &information)) return false;
    id = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
    return true;
}

bool IsRecordedFolder(const FolderRecords& records, const std::wstring& path, const FolderId& id) {
    UniqueRegKey key;
    if (::RegOpenKeyExW(records.root, records.key, 0, KEY_QUERY_VALUE | kView, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    FolderId recorded;
    DWORD type = 0;
    DWORD size = sizeof(recorded);
    return ::RegQueryValueExW(key.get(), path.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&recorded), &size) ==
               ERROR_SUCCESS &&
           type == REG_BINARY && size == sizeof(recorded) && recorded.volume == id.volume &&
           recorded.indexHigh == id.indexHigh && recorded.indexLow == id.indexLow;
}

void RecordFolder(const FolderRecords& records, const std::wstring& path, HANDLE folder) {
    FolderId id;
    const UniqueLocalMemory descriptor = DescriptorFromSddl(kRecordsKeySecurity);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    UniqueRegKey key;
    if (!descriptor || !ReadFolderId(folder, id) ||
        ::RegCreateKeyExW(records.root, records.key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | kView,
                          &attributes, key.put(), nullptr) != ERROR_SUCCESS ||
        ::RegSetValueExW(key.get(), path.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(&id), sizeof(id)) !=
            ERROR_SUCCESS) {
        throw std::runtime_error("folder could not be secured");
    }
}

void ForgetFolder(const FolderRecords& records, const std::wstring& path) {
    UniqueRegKey key;
    if (::RegOpenKeyExW(records.root, records.key, 0, KEY_SET_VALUE | kView, key.put()) == ERROR_SUCCESS) {
        ::RegDeleteValueW(key.get(), path.c_str());
    }
}

}  // namespace orivanta
