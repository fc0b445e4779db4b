// The global heap as the memory blocks use it: movable zero-filled blocks,
// the handle found again from the address, a second lock that stays visible.
#include "platform/win32.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

TEST(GlobalMemory, MovableBlockIsFoundAgainFromItsAddress) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 40);
    ASSERT_NE(h, nullptr);
    auto* p = static_cast<unsigned char*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(p[i], 0) << "byte " << i;
    EXPECT_EQ(GlobalHandle(p), h);
    EXPECT_GE(GlobalSize(h), 40u);

    // A second lock is visible: the first unlock leaves the block locked.
    ASSERT_EQ(GlobalLock(h), p);
    SetLastError(12345);
    EXPECT_TRUE(GlobalUnlock(h));
    SetLastError(12345);
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, ForeignAddressHasNoHandle) {
    static char not_a_block[64];
    SetLastError(0);
    EXPECT_EQ(GlobalHandle(not_a_block + 8), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(GlobalMemory, ReAllocZeroFillsTheNewTailAndKeepsTheData) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 16);
    ASSERT_NE(h, nullptr);
    auto* p = static_cast<unsigned char*>(GlobalLock(h));
    std::memset(p, 0xAB, 16);
    ASSERT_FALSE(GlobalUnlock(h));

    HGLOBAL h2 = GlobalReAlloc(h, 4096, GMEM_ZEROINIT);
    ASSERT_NE(h2, nullptr);
    auto* q = static_cast<unsigned char*>(GlobalLock(h2));
    ASSERT_NE(q, nullptr);
    EXPECT_GE(GlobalSize(h2), 4096u);
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(q[i], 0xAB) << "byte " << i;
    for (int i = 16; i < 4096; ++i)
        ASSERT_EQ(q[i], 0) << "byte " << i;
    EXPECT_EQ(GlobalHandle(q), h2);
    GlobalUnlock(h2);
    EXPECT_EQ(GlobalFree(h2), nullptr);
}

TEST(GlobalMemory, EmptyMovableBlockCannotBeLocked) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 0);
    ASSERT_NE(h, nullptr);
    SetLastError(0);
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISCARDED));
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, BadHandlesFailWithoutCrashing) {
    EXPECT_EQ(GlobalLock(nullptr), nullptr);
    EXPECT_EQ(GlobalHandle(nullptr), nullptr);
    EXPECT_FALSE(GlobalUnlock(nullptr));
}

TEST(GlobalMemory, IsBadReadPtrTellsReadableMemory) {
    char local[14] = {};
    EXPECT_FALSE(IsBadReadPtr(local, sizeof local));
    EXPECT_TRUE(IsBadReadPtr(nullptr, 14));
    EXPECT_FALSE(IsBadReadPtr(nullptr, 0));
}

} // namespace
