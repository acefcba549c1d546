#pragma once
// A scratch data root, and a stop flag, for the storage functions under one test.

#include <gtest/gtest.h>

#include <string>

#include "TestFiles.h"
#include "common/StopFlag.h"

namespace orivanta::test {

class DataRootTest : public ::testing::Test {
protected:
    TempFolder root_{L"storage"};
    const std::wstring dataRoot_ = root_.path();
    StopFlag stop_{false};
};

}  // namespace orivanta::test
