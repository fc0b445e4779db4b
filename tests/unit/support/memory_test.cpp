#include "support/memory.h"
#include "support_test.h"

#include <cstdio>
#include <cstring>

using namespace tx;

namespace {

size_t BlockSize(const void* p) {
    return GlobalSize(GlobalHandle(p));
}

bool AllBytes(const void* p, size_t from, size_t to, unsigned char value) {
    const auto* bytes = static_cast<const unsigned char*>(p);
    for (size_t i = from; i < to; ++i)
        if (bytes[i] != value) return false;
    return true;
}

// The text of templates 1417 and 1418: the address as high:low halves.
std::string WithHalves(const char* prefix, const void* p) {
    auto a = reinterpret_cast<uintptr_t>(p);
    char text[64];
    std::snprintf(text, sizeof text, "%s %04X:%04X", prefix, unsigned((a >> 16) & 0xFFFF),
                  unsigned(a & 0xFFFF));
    return text;
}

class MemoryTest : public SupportTest {};

class MemoryFaultTest : public SupportTest {
  protected:
    void SetUp() override {
        SupportTest::SetUp();
        if (!txplat::FaultsSupported()) GTEST_SKIP() << kNoFaultsReason;
    }
};

TEST_F(MemoryTest, SmallRequestsGetSixteenZeroedBytes) {
    for (uint16_t size : {0, 1, 16}) {
        void* p = BlockAlloc(size);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(BlockSize(p), 16u) << size;
        EXPECT_TRUE(AllBytes(p, 0, 16, 0)) << size;
        EXPECT_EQ(BlockFree(p), 1);
    }
    ExpectBoxes({});
}

TEST_F(MemoryTest, SizeLimitsOfTheTwoInterfaces) {
    EXPECT_EQ(BlockMaxSize(), 65520);
    void* p = BlockAlloc(65520);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(BlockSize(p), 65520u);
    EXPECT_TRUE(AllBytes(p, 0, 65520, 0));
    EXPECT_EQ(BlockFree(p), 1);

    txplat::FaultClear();
    for (uint16_t size : {65521, 65535}) {
        EXPECT_EQ(BlockAlloc(size), nullptr);
        EXPECT_EQ(ErrorLastNumber(), 1081);
    }
    EXPECT_EQ(txplat::CallCount("GlobalAlloc"), 0);

    void* large = BlockAllocLarge(200000);
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(BlockSize(large), 200000u);
    EXPECT_TRUE(AllBytes(large, 0, 200000, 0));
    EXPECT_EQ(BlockFree(large), 1);
    void* empty = BlockAllocLarge(0);
    EXPECT_NE(empty, nullptr);
    EXPECT_EQ(BlockFree(empty), 1);
    EXPECT_EQ(ErrorLastNumber(), 1081);
    ExpectBoxes({{kRuntimeCaption, "Error 1081"}, {kRuntimeCaption, "Error 1081"}});
}

TEST_F(MemoryTest, ReallocGivesSizePlusFourKeepingDataAndZeroingTheRest) {
    void* p = BlockAlloc(16);
    ASSERT_NE(p, nullptr);
    std::memset(p, 0xAB, 16);
    p = BlockRealloc(p, 100);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(BlockSize(p), 104u);
    EXPECT_TRUE(AllBytes(p, 0, 16, 0xAB));
    EXPECT_TRUE(AllBytes(p, 16, 104, 0));

    // The sum is not taken modulo 65536.
    p = BlockRealloc(p, 65535);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(BlockSize(p), 65539u);
    EXPECT_TRUE(AllBytes(p, 0, 16, 0xAB));

    p = BlockRealloc(p, 4);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(BlockSize(p), 8u);
    EXPECT_TRUE(AllBytes(p, 0, 8, 0xAB));
    EXPECT_EQ(BlockFree(p), 1);
    ExpectBoxes({});
}

TEST_F(MemoryTest, FreeOfNullRaises1002) {
    EXPECT_EQ(BlockFree(nullptr), 0);
    EXPECT_EQ(ErrorLastNumber(), 1002);
    ExpectBoxes({{kRuntimeCaption, "Error 1002"}});
}

TEST_F(MemoryTest, FreeOfForeignAddressShowsGlobalHandleErrorThenRaises1417) {
    char local[32] = {};
    EXPECT_EQ(BlockFree(local), 0);
    EXPECT_EQ(ErrorLastNumber(), 1417);
    EXPECT_EQ(ErrorMessageText(), WithHalves("Bloc inconnu", local));
    ExpectBoxes({{"Erreur", "Erreur GlobalHandle 6"},
                 {kRuntimeCaption, WithHalves("Bloc inconnu", local)}});
    auto boxes = txplat::MessageBoxes();
    if (boxes.size() == 2) {
        EXPECT_FALSE(boxes[0].has_owner);
        EXPECT_EQ(boxes[0].style, unsigned(MB_OK));
    }
}

TEST_F(MemoryTest, BlockLockedTwiceIsNotFreed) {
    void* p = BlockAlloc(32);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(GlobalLock(GlobalHandle(p)), p);
    EXPECT_EQ(BlockFree(p), 0);
    EXPECT_EQ(ErrorLastNumber(), 1418);
    EXPECT_EQ(ErrorMessageText(), WithHalves("Bloc verrouill\xE9", p));
    // The second lock is all that is left, so the next free succeeds.
    EXPECT_EQ(BlockSize(p), 32u);
    EXPECT_EQ(BlockFree(p), 1);
}

TEST_F(MemoryFaultTest, AllocationFailuresRaise1067) {
    txplat::FaultInject("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(BlockAlloc(64), nullptr);
    EXPECT_EQ(ErrorLastNumber(), 1067);

    txplat::FaultInject("GlobalLock", ERROR_INVALID_HANDLE);
    SetErrorNumber(0);
    EXPECT_EQ(BlockAllocLarge(64), nullptr);
    EXPECT_EQ(ErrorLastNumber(), 1067);
    // The object that could not be locked is released, not lost.
    EXPECT_EQ(txplat::CallCount("GlobalFree"), 1);

    ExpectBoxes({{kRuntimeCaption, "Error 1067"}, {kRuntimeCaption, "Error 1067"}});
    auto boxes = txplat::MessageBoxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes[0].style, unsigned(MB_ICONWARNING));
}

TEST_F(MemoryFaultTest, FailedReallocLeavesTheBlockLockedAndIntact) {
    void* p = BlockAlloc(16);
    ASSERT_NE(p, nullptr);
    std::memset(p, 0x5A, 16);
    txplat::FaultInject("GlobalReAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(BlockRealloc(p, 100), nullptr);
    EXPECT_EQ(ErrorLastNumber(), 1067);
    ExpectBoxes({{kRuntimeCaption, "Error 1067"}});
    EXPECT_EQ(BlockSize(p), 16u);
    EXPECT_TRUE(AllBytes(p, 0, 16, 0x5A));
    // Locked exactly once: one unlock brings the count to zero without error.
    HGLOBAL h = GlobalHandle(p);
    SetLastError(ERROR_INVALID_HANDLE);
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), DWORD(NO_ERROR));
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST_F(MemoryFaultTest, FreeFailuresRaiseTheirNumbers) {
    void* p = BlockAlloc(16);
    ASSERT_NE(p, nullptr);
    txplat::FaultInject("GlobalHandle", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(BlockFree(p), 0);
    EXPECT_EQ(ErrorLastNumber(), 1417);

    txplat::FaultInject("GlobalFree", ERROR_ACCESS_DENIED);
    EXPECT_EQ(BlockFree(p), 0);
    EXPECT_EQ(ErrorLastNumber(), 1004);
    ExpectBoxes({{"Erreur", "Erreur GlobalHandle 87"},
                 {kRuntimeCaption, WithHalves("Bloc inconnu", p)},
                 {kRuntimeCaption, "Error 1004"}});
    EXPECT_EQ(GlobalFree(GlobalHandle(p)), nullptr);
}

} // namespace
