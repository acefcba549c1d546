#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <memory>
#include <string>
#include <thread>

#include "app/RunLock.h"
#include "common/GuidText.h"
#include "common/Handles.h"

namespace orivanta {
namespace {

std::wstring FreshName() { return L"Global\\Orivanta.Test." + NewGuidText(); }

bool Trusted(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        << sddl;
    UniqueLocalMemory release(descriptor);
    return IsTrustedRunLock(descriptor);
}

// Whether a run started on another thread now would be let through.
bool OtherRunClaims(const std::wstring& name) {
    bool claimed = false;
    std::thread([&] { claimed = RunLock(name).claimed(); }).join();
    return claimed;
}

TEST(RunLock, OnlyAnObjectThatOnlyAdministratorsCanMakeAndHoldIsTrusted) {
    EXPECT_TRUE(Trusted(kRunLockSecurity));
    EXPECT_TRUE(Trusted(L"O:SYD:P(D;;GA;;;WD)(A;;GA;;;SY)"));
    EXPECT_FALSE(Trusted(L"O:BUD:P(A;;0x1F0001;;;SY)(A;;0x1F0001;;;BA)")) << "owned by a standard user";
    EXPECT_FALSE(Trusted(L"O:BAD:P(A;;0x1F0001;;;BA)(A;;0x100000;;;WD)")) << "anyone may wait on it, so hold it";
    EXPECT_FALSE(Trusted(L"O:BAD:P(A;;0x1F0001;;;BA)(A;;GA;;;IU)"));
    EXPECT_FALSE(Trusted(L"O:BA")) << "no DACL lets everyone in";
}

TEST(RunLock, SecondRunGivesWayUntilTheFirstEndsOrIsGone) {
    const std::wstring name = FreshName();
    {
        RunLock first(name);
        ASSERT_TRUE(first.claimed());
        EXPECT_FALSE(OtherRunClaims(name));
    }
    EXPECT_TRUE(OtherRunClaims(name));

    // A run that ended without letting go (its thread is gone) leaves an abandoned lock behind.
    std::unique_ptr<RunLock> kept;
    std::thread([&] { kept = std::make_unique<RunLock>(name); }).join();
    ASSERT_TRUE(kept->claimed());
    EXPECT_TRUE(OtherRunClaims(name));
}

TEST(RunLock, NameSquattedByAnotherUserNeitherBlocksNorPassesForARun) {
    const std::wstring name = FreshName();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BUD:P(A;;GA;;;BU)", SDDL_REVISION_1,
                                                                       &descriptor, nullptr));
    UniqueLocalMemory release(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    // Created first and held, as someone who wants the assistant never to start would.
    UniqueHandle squatter(::CreateMutexW(&attributes, TRUE, name.c_str()));
    ASSERT_TRUE(squatter);
    EXPECT_TRUE(OtherRunClaims(name));
    ::ReleaseMutex(squatter.get());
}

}  // namespace
}  // namespace orivanta
