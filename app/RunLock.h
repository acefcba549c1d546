#pragma once
// One working run per machine. Two runs that work at once would both open
// download sessions, which the center counts twice, and write the same session,
// part and record files. Staff share a computer with fast user switching, and
// every run is elevated, so the lock is machine-wide: a mutex in the global
// namespace, held by the run's UI thread from the end of the diagnostic tests
// until the process ends (the system lets it go even after a crash).
//
// Any user can create a mutex of that name first. The program creates it with
// Administrators as owner and a DACL that lets only SYSTEM and Administrators
// in, and trusts an existing one only when it looks the same; a name someone
// else made (or one that shuts the program out) is ignored, so that it can
// neither block the run nor pass for another run.

#include <windows.h>

#include <string>

#include "common/Handles.h"

namespace orivanta {

constexpr const wchar_t* kRunLockName = L"Global\\Orivanta.InstallerAssistant.WorkingRun";
// Owner Administrators; full access for SYSTEM and Administrators only.
constexpr const wchar_t* kRunLockSecurity = L"O:BAD:P(A;;0x1F0001;;;SY)(A;;0x1F0001;;;BA)";

// True when an existing lock's security descriptor shows that only SYSTEM or
// Administrators made it and can hold it: such an owner, and a DACL that grants
// nothing to anyone else.
bool IsTrustedRunLock(PSECURITY_DESCRIPTOR descriptor);

class RunLock {
public:
    // Tries to take the lock for the calling thread, without waiting.
    explicit RunLock(const std::wstring& name = kRunLockName);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // False only when another run holds a trusted lock of that name.
    bool claimed() const { return claimed_; }

private:
    UniqueHandle mutex_;  // set while this run holds it
    bool claimed_ = true;
};

}  // namespace orivanta
