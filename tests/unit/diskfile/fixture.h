// A fresh handle table of 140 and a scratch directory for every test, with
// faults and call counts of the platform layer forgotten on both sides.
#pragma once

#include "diskfile/diskfile.h"
#include "diskfile/libraryhooks.h"
#include "platform/fault.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <string>

namespace txtest {

class DiskTest : public ::testing::Test {
  protected:
    void SetUp() override {
        txplat::FaultClear();
        ASSERT_EQ(tx::DiskInitHandles(140), 1);
    }
    void TearDown() override {
        txplat::FaultClear();
        tx::DiskSetSharedOpen(0);
        tx::DiskSetLibraryHooks(nullptr);
        // Count the table down to nothing, closing whatever a test left open.
        while (tx::DiskTermHandles() == 1) {
        }
    }

    // Creates `name` in the scratch directory with flags 15 and returns its handle.
    int16_t Create(const std::string& name) {
        int16_t h = -1;
        EXPECT_EQ(tx::DiskCreate(dir.win(name).c_str(), 15, &h), 1) << name;
        return h;
    }

    // Leaves a recognisable value in the last disk error (87, from a refused seek).
    static void MarkLastError() {
        tx::DiskSeek(-1, 0, 9);
        ASSERT_EQ(tx::DiskLastError(), 87);
    }

    ScratchDir dir;
};

#define SKIP_WITHOUT_FAULTS()                                                                      \
    if (!txplat::FaultsSupported())                                                                \
    GTEST_SKIP() << "needs fault injection, which only our own platform layer offers"

} // namespace txtest
