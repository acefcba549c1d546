#include "common/FolderRecords.h"

#include <stdexcept>

#include "common/AdministratorsOnly.h"
#include "common/AtomicFile.h"
#include "common/FileAsItIs.h"
#include "common/SmallTextFile.h"

namespace orivanta {
namespace {

// Full control for SYSTEM and Administrators, nothing for anyone else.
constexpr wchar_t kRecordsKeySecurity[] = L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)";
// The same key whether the program is built for 32 or 64 bits.
constexpr REGSAM kView = KEY_WOW64_64KEY;
// Rights with which someone could change a key's values, what it holds or who may.
constexpr ACCESS_MASK kKeyChangeRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC |
                                         WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// The records' key and its parent, the two levels that are the program's own. The
// vendor's key above them is not judged: rights on a parent key let nobody change
// or remove a child key that denies them, and our keys' owner and DACL show
// whether someone else made them first.
bool OnlyAdministratorsMayChange(const FolderRecords& records) {
    const std::wstring key = records.key;
    for (const std::wstring& level : {key, key.substr(0, key.rfind(L'\\'))}) {
        const UniqueLocalMemory descriptor = records.keySecurity(records.root, level);
        if (!descriptor || !OnlyAdministratorsHold(descriptor.get(), kKeyChangeRights, GrantScope::ObjectItself)) {
            return false;
        }
    }
    return true;
}

std::wstring RecordFile(const FolderRecords& records, const std::wstring& path) {
    return records.folder + L"\\" + path.substr(path.rfind(L'\\') + 1) + L".id";
}

std::wstring RecordText(const std::wstring& path, const FolderId& id) {
    return path + L"\r\n" + std::to_wstring(id.volume) + L"-" + std::to_wstring(id.indexHigh) + L"-" +
           std::to_wstring(id.indexLow) + L"\r\n";
}

}  // namespace

UniqueLocalMemory ReadKeySecurity(HKEY root, const std::wstring& key) {
    UniqueRegKey opened;
    if (::RegOpenKeyExW(root, key.c_str(), 0, READ_CONTROL | kView, opened.put()) != ERROR_SUCCESS) return {};
    return ReadOwnerAndDacl(reinterpret_cast<HANDLE>(opened.get()), SE_REGISTRY_KEY);
}

FolderRecords RecordsInFolder(const std::wstring& folder) { return {nullptr, nullptr, ReadKeySecurity, folder}; }

bool ReadFolderId(HANDLE folder, FolderId& id) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(folder, &information)) return false;
    id = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
    return true;
}

bool IsRecordedFolder(const FolderRecords& records, const std::wstring& path, const FolderId& id) {
    if (records.root == nullptr) return ReadSmallTextFile(RecordFile(records, path)) == RecordText(path, id);
    UniqueRegKey key;
    if (::RegOpenKeyExW(records.root, records.key, 0, KEY_QUERY_VALUE | kView, key.put()) != ERROR_SUCCESS ||
        !OnlyAdministratorsMayChange(records)) {
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
    if (!ReadFolderId(folder, id)) throw std::runtime_error("folder could not be secured");
    if (records.root == nullptr) {
        if (!WriteFileAtomically(RecordFile(records, path), RecordText(path, id))) {
            throw std::runtime_error("folder could not be secured");
        }
        return;
    }
    const UniqueLocalMemory descriptor = DescriptorFromSddl(kRecordsKeySecurity);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    UniqueRegKey key;
    if (!descriptor ||
        ::RegCreateKeyExW(records.root, records.key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | kView,
                          &attributes, key.put(), nullptr) != ERROR_SUCCESS ||
        ::RegSetValueExW(key.get(), path.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(&id), sizeof(id)) !=
            ERROR_SUCCESS) {
        throw std::runtime_error("folder could not be secured");
    }
}

void ForgetFolder(const FolderRecords& records, const std::wstring& path) {
    if (records.root == nullptr) {
        DeleteFileAsItIs(RecordFile(records, path));
        return;
    }
    UniqueRegKey key;
    if (::RegOpenKeyExW(records.root, records.key, 0, KEY_SET_VALUE | kView, key.put()) == ERROR_SUCCESS) {
        ::RegDeleteValueW(key.get(), path.c_str());
    }
}

}  // namespace orivanta
