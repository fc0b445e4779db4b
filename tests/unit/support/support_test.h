// Fixture and helpers shared by the support tests.
#pragma once

#include "platform/fault.h"
#include "platform/win32.h"
#include "support/error.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

// The module that carries the test templates (strings.rc): this program.
#ifdef _WIN32
inline constexpr const char* kOwnName = "test_support.exe";
#else
inline constexpr const char* kOwnName = "test_support";
#endif

inline constexpr const char* kRuntimeCaption = "RUNTIME Erreur";
inline constexpr const char* kNoFaultsReason =
    "Win32 calls cannot be made to fail on request under Windows";

// Each test starts with an initialised error state, no pending fault, no
// call counted and no box recorded.
class SupportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tx::ErrorInit(kOwnName);
        txplat::FaultClear();
        txplat::MessageBoxesClear();
    }
    void TearDown() override {
        txplat::FaultClear();
        tx::ErrorTerm();
    }
};

// Natively, expects exactly these boxes (caption, text) since the last clear.
// Boxes cannot be seen under Windows: there this checks nothing.
inline void ExpectBoxes(const std::vector<std::pair<std::string, std::string>>& expected) {
    if (!txplat::FaultsSupported()) return;
    std::vector<std::pair<std::string, std::string>> seen;
    for (const auto& box : txplat::MessageBoxes())
        seen.emplace_back(box.caption, box.text);
    EXPECT_EQ(seen, expected);
}
