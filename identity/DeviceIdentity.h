#pragma once
#include <string>

#include "identity/MachineFolder.h"

namespace orivanta {

// MachineGuid from HKLM in the given registry view (0 or KEY_WOW64_64KEY); empty when unavailable.
std::wstring ReadMachineGuid(unsigned long viewFlag);

// "ORIVANTA-DEVICE-V1|MACHINEGUID=<guid>|SYSTEMVOLUME=<serial>" in upper case.
std::wstring DeviceIdentitySource(const std::wstring& machineGuid, unsigned long volumeSerial);

// Serial number of the volume that holds the folder; raises "system volume identity unavailable".
unsigned long VolumeSerialOf(const std::wstring& folder);

// The stable device identity, 64 lower-case hexadecimal characters, stored in
// MachineFolder(dataRoot)\device-id.txt once computed (the folder established
// and held meanwhile by EstablishMachineFolder). The system volume is the
// one that holds the Windows folder (SystemWindowsFolder() in use), whatever its
// drive letter. Raises on failure.
std::string GetStableDeviceId(const std::wstring& dataRoot, const std::wstring& windowsFolder);

}  // namespace orivanta
