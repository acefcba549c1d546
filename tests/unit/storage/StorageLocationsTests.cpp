#include <gtest/gtest.h>

#include <stdexcept>

#include "DataRootFixture.h"
#include "storage/StorageLocations.h"

namespace orivanta {
namespace {

using test::DataRootTest;
using test::DirectoryExists;

using DiagnosticDataRoot = DataRootTest;

TEST_F(DiagnosticDataRoot, HoldsTheDownloaderRootAndTheSaveFolder) {
    const std::wstring nested = root_ / L"a\\b";
    EXPECT_EQ(InstallerDownloaderRoot(nested), nested);
    EXPECT_FALSE(DirectoryExists(nested)) << "the root is not created by asking for it";

    EXPECT_EQ(ChooseSaveFolder(nested).path, nested + L"\\packages");
    EXPECT_TRUE(DirectoryExists(nested + L"\\packages")) << "created with every missing level";
    EXPECT_EQ(ChooseSaveFolder(nested).path, nested + L"\\packages") << "an existing folder is chosen again";
}

TEST_F(DiagnosticDataRoot, UncreatableSaveFolderRaises) {
    try {
        ChooseSaveFolder(L"?:\\nowhere");
        FAIL() << "no failure raised";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "create directory failed");
    }
}

}  // namespace
}  // namespace orivanta
