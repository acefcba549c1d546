#include "app/RunLock.h"

#include <exception>

#include "common/AdministratorsOnly.h"
#include "common/FileAsItIs.h"
#include "identity/MachineFolder.h"

namespace orivanta {

RunLock::RunLock(const std::wstring& dataRoot) {
    HeldFolders held;
    try {
        held = EstablishMachineFolder(dataRoot);
    } catch (const std::exception&) {
        return;
    }
    const UniqueLocalMemory descriptor = DescriptorFromSddl(kRunLockSecurity);
    if (!descriptor) return;
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    const std::wstring path = MachineFolder(dataRoot) + L"\\" + kRunLockFileName;
    // No sharing: every later open that reads fails until this handle closes.
    file_ = OpenFileAsItIs(path, GENERIC_READ, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, &attributes);
    if (!file_ && ::GetLastError() == ERROR_SHARING_VIOLATION) claimed_ = false;
}

}  // namespace orivanta
