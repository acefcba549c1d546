#pragma once
// Shared set-up for the diagnostics tests: a scratch local application data
// folder, a clean shared state and helpers to read the written files.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestFiles.h"
#include "diagnostics/ReportRoot.h"

namespace orivanta::test {

// Every test gets its own local application data folder; the shared state and
// the root-forcing environment variable are reset around it.
class DiagnosticsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    FolderSource LocalAppData() const;
    std::wstring NormalRoot() const;
    std::wstring FallbackRoot() const;

    TempFolder localAppData_{L"diag"};
};

void ResetSharedState();

// The file as UTF-8 text converted to UTF-16; empty when missing.
std::wstring ReadText(const std::wstring& path);
// The lines of a CR LF text, without their line ends; fails the test on a bare LF or a missing final CR LF.
std::vector<std::wstring> SplitCrLfLines(const std::wstring& text);
// "2026-12-06T22:12:45.123Z"
bool LooksLikeUtcTimestamp(const std::wstring& text);

}  // namespace orivanta::test
