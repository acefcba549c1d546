#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include "TestFiles.h"
#include "app/RunLock.h"
#include "common/AdministratorsOnly.h"
#include "common/Handles.h"

namespace orivanta {
namespace {

// Runs with one data root exclude each other in its machine folder; another root is another lock.
TEST(RunLock, SecondRunOfTheSameDataRootGivesWayUntilTheFirstEnds) {
    const test::TempFolder root(L"run-lock");
    const test::TempFolder other(L"run-lock-other");
    {
        const RunLock first(root.path());
        ASSERT_TRUE(first.claimed());
        EXPECT_TRUE(test::FileExists(root / L"machine\\working-run.lock"));
        EXPECT_FALSE(RunLock(root.path()).claimed());
        EXPECT_TRUE(RunLock(other.path()).claimed());
    }
    EXPECT_TRUE(RunLock(root.path()).claimed());
}

// The mutex name that the lock once was: anyone could create it first, and the
// program then ran without a lock.
TEST(RunLock, SquattedMutexOfTheOldNameChangesNothing) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BUD:P(A;;GA;;;BU)", SDDL_REVISION_1,
                                                                       &descriptor, nullptr));
    UniqueLocalMemory release(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    UniqueHandle squatter(::CreateMutexW(&attributes, TRUE, L"Global\\Orivanta.InstallerAssistant.WorkingRun"));
    ASSERT_TRUE(squatter);

    const RunLock first;
    ASSERT_TRUE(first.claimed());
    EXPECT_FALSE(RunLock().claimed()) << "a second run still gives way";
    ::ReleaseMutex(squatter.get());

    // Nobody but administrators may open the lock file, which would block every run.
    EXPECT_TRUE(OnlyAdministratorsHold(DescriptorFromSddl(kRunLockSecurity).get(), ~ACCESS_MASK{0}));
}

}  // namespace
}  // namespace orivanta
