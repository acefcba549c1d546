#pragma once
// Points every storage location of the process at a scratch data root for one test.

#include <gtest/gtest.h>

#include "TestFiles.h"
#include "state/AppState.h"

namespace orivanta::test {

class DataRootTest : public ::testing::Test {
protected:
    void SetUp() override { App().diagnosticDataRoot = root_.path(); }
    void TearDown() override {
        App().diagnosticDataRoot.clear();
        App().cancelRequested = false;
    }

    TempFolder root_{L"storage"};
};

}  // namespace orivanta::test
