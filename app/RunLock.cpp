#include "app/RunLock.h"

#include <exception>

#include "common/AdministratorsOnly.h"
#include "identity/MachineFolder.h"

namespace orivanta {

RunLock::RunLock() {
    UniqueHandle held;
    try {
        held = EstablishMachineFolder(L"");
    } catch (const std::exception&) {
        return;
    }
    Take(MachineFolder(L""));
}

RunLock::RunLock(const std::wstring& folder) { Take(folder); }

void RunLock::Take(const std::wstring& folder) {
    const UniqueLocalMemory descriptor = DescriptorFromSddl(kRunLockSecurity);
    if (!descriptor) return;
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    const std::wstring path = folder + L"\\" + kRunLockFileName;
    // No sharing: every later open that reads fails until this handle closes.
    file_.reset(::CreateFileW(path.c_str(), GENERIC_READ, 0, &attributes, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_ && ::GetLastError() == ERROR_SHARING_VIOLATION) claimed_ = false;
}

}  // namespace orivanta
