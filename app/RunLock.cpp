#include "app/RunLock.h"

#include "common/AdministratorsOnly.h"

namespace orivanta {
namespace {

constexpr DWORD kMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL;

bool IsTrustedExisting(HANDLE mutex) {
    const UniqueLocalMemory descriptor = ReadOwnerAndDacl(mutex, SE_KERNEL_OBJECT);
    return descriptor && IsTrustedRunLock(descriptor.get());
}

}  // namespace

bool IsTrustedRunLock(PSECURITY_DESCRIPTOR descriptor) {
    // Whoever may touch the mutex at all could hold it.
    return OnlyAdministratorsHold(descriptor, ~ACCESS_MASK{0});
}

RunLock::RunLock(const std::wstring& name) {
    const UniqueLocalMemory descriptor = DescriptorFromSddl(kRunLockSecurity);
    if (!descriptor) return;
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    UniqueHandle mutex(::CreateMutexExW(&attributes, name.c_str(), 0, kMutexAccess));
    // Someone else's object of that name that shuts the program out (or is no mutex)
    // tells nothing about a run; so does one that anyone else made or may hold.
    if (!mutex) return;
    if (::GetLastError() == ERROR_ALREADY_EXISTS && !IsTrustedExisting(mutex.get())) return;
    const DWORD wait = ::WaitForSingleObject(mutex.get(), 0);
    if (wait == WAIT_TIMEOUT) {
        claimed_ = false;
        return;
    }
    // An abandoned lock is that of a run that ended without letting it go: it is ours now.
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) mutex_ = std::move(mutex);
}

RunLock::~RunLock() {
    if (mutex_) ::ReleaseMutex(mutex_.get());
}

}  // namespace orivanta
