#include "identity/DeviceIdentity.h"

#include <cwctype>
#include <stdexcept>

#include "common/AtomicFile.h"
#include "common/Handles.h"
#include "common/SmallTextFile.h"
#include "common/Utf.h"
#include "identity/Sha256.h"

namespace orivanta {

std::wstring ReadMachineGuid(unsigned long viewFlag) {
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0, KEY_READ | viewFlag,
                        key.put()) != ERROR_SUCCESS) {
        return {};
    }
    wchar_t buffer[512] = {};
    DWORD type = 0;
    DWORD size = sizeof(buffer) - sizeof(wchar_t);  // keeps a terminating NUL in every case
    const LONG status = ::RegQueryValueExW(key.get(), L"MachineGuid", nullptr, &type,
                                           reinterpret_cast<BYTE*>(buffer), &size);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    return buffer;
}

std::wstring DeviceIdentitySource(const std::wstring& machineGuid, unsigned long volumeSerial) {
    std::wstring text = L"ORIVANTA-DEVICE-V1|MACHINEGUID=" + machineGuid + L"|SYSTEMVOLUME=" +
                        std::to_wstring(volumeSerial);
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

unsigned long VolumeSerialOf(const std::wstring& folder) {
    wchar_t volume[MAX_PATH + 1] = {};
    DWORD serial = 0;
    if (!::GetVolumePathNameW(folder.c_str(), volume, MAX_PATH + 1) ||
        !::GetVolumeInformationW(volume, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
        throw std::runtime_error("system volume identity unavailable");
    }
    return serial;
}

std::string GetStableDeviceId(const std::wstring& dataRoot, const std::wstring& windowsFolder) {
    const HeldFolders folder = EstablishMachineFolder(dataRoot);
    const std::wstring file = MachineFolder(dataRoot) + L"\\device-id.txt";

    const std::string stored = Utf16ToUtf8(TrimTrailingWhitespace(ReadSmallTextFile(file)));
    if (IsDigestText(stored)) return LowerCaseDigest(stored);

    const unsigned long serial = VolumeSerialOf(windowsFolder);
    std::wstring guid = ReadMachineGuid(KEY_WOW64_64KEY);
    if (guid.empty()) guid = ReadMachineGuid(0);
    if (guid.empty()) throw std::runtime_error("Windows machine identity unavailable");

    const std::string identity = Sha256Hex(Utf16ToUtf8(DeviceIdentitySource(guid, serial)));
    if (!WriteFileAtomically(file, Utf8ToUtf16(identity) + L"\r\n")) {
        throw std::runtime_error("stable device identity could not be persisted");
    }
    return identity;
}

}  // namespace orivanta
