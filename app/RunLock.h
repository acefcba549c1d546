#pragma once
// One working run per machine. Two runs that work at once would both open
// download sessions, which the center counts twice, and write the same session,
// part and record files. Staff share a computer with fast user switching, and
// every run is elevated, so the lock is machine-wide: a file in the machine
// folder opened without sharing, held by the run from the end of the diagnostic
// tests until the process ends (the system closes it even after a crash).
//
// A standard user can make a mutex or a file of any name where they can write,
// first, and so block or fake a run. The machine folder is written only by
// administrators, and the lock file's own DACL lets nobody else open it, so only
// another elevated run can hold it. A diagnostic data root has a machine folder
// of its own: runs with the same root exclude each other, and none of them
// touches the usual machine folder.

#include <windows.h>

#include <string>

#include "common/Handles.h"

namespace orivanta {

constexpr wchar_t kRunLockFileName[] = L"working-run.lock";
// Owner Administrators; full access for SYSTEM and Administrators only.
constexpr const wchar_t* kRunLockSecurity = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";

class RunLock {
public:
    // Tries to take the lock in the machine folder of the data root (the usual
    // one when it is empty), without waiting. A machine folder that cannot be
    // established leaves the run without a lock: its worker refuses that folder
    // with the reason, so no run can work in it.
    explicit RunLock(const std::wstring& dataRoot = L"");
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // False only when another run holds the lock.
    bool claimed() const { return claimed_; }

private:
    UniqueHandle file_;  // set while this run holds the lock
    bool claimed_ = true;
};

}  // namespace orivanta
