// A fresh disk handle table, virtual file layer and error state for every
// test of the library and virtual file layers, with a scratch directory.
#pragma once

#include "container_fixture.h"
#include "diskfile/diskfile.h"
#include "library/libtable.h"
#include "library/searchlist.h"
#include "platform/fault.h"
#include "support/error.h"
#include "testutil.h"
#include "vfile/virtual.h"

#include <gtest/gtest.h>

#include <string>

namespace txtest {

inline constexpr const char* kNoFaultsReason =
    "Win32 calls cannot be made to fail on request under Windows";

class LayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        txplat::FaultClear();
        tx::ErrorInit(nullptr);
        ASSERT_EQ(tx::DiskInitHandles(140), 1);
        tx::FileLayerInit();
        tx::VirtualInit();
    }
    void TearDown() override {
        txplat::FaultClear();
        tx::g_layer.report_errors = 0;
        for (int16_t selector = 274; selector >= 255; --selector) {
            int16_t index = selector;
            if (tx::LibraryCheckSelector(&index)) tx::LibraryClose(selector);
        }
        tx::VirtualTerm();
        while (tx::DiskTermHandles() == 1) {
        }
        tx::ErrorTerm();
    }

    // Writes a container file built by hand and answers its Windows path.
    std::string Put(const std::string& name, const FixtureContainer& spec) {
        dir.write(name, BuildContainer(spec));
        return dir.win(name);
    }

    // Opens an existing container of any kind and answers its selector.
    int16_t OpenLib(const std::string& name) {
        int16_t selector = -1;
        EXPECT_EQ(tx::LibraryOpenExisting(dir.win(name).c_str(), &selector, -1), 1) << name;
        return selector;
    }

    // Reads a whole member through the layer (at most 65535 bytes).
    static std::string ReadAll(int16_t handle) {
        std::string out(65535, '\0');
        const uint16_t got = tx::FileRead(handle, out.data(), 65535);
        out.resize(got);
        return out;
    }

    static uint16_t WriteText(int16_t handle, std::string text) {
        return tx::FileWrite(handle, text.data(), static_cast<uint16_t>(text.size()));
    }

    ScratchDir dir;
};

} // namespace txtest
