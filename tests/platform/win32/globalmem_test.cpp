#include <gtest/gtest.h>

#include <cstring>

#include "qrv.h"

TEST(GlobalMemory, MovableBlockLocksToItsBytes) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 64);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalSize(block), 64u);
    auto *bytes = static_cast<unsigned char *>(GlobalLock(block));
    ASSERT_NE(bytes, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(bytes[i], 0) << i;
    std::memset(bytes, 0xAB, 64);
    EXPECT_EQ(GlobalUnlock(block), 0); // no lock left
    auto *again = static_cast<unsigned char *>(GlobalLock(block));
    EXPECT_EQ(again[63], 0xAB);
    EXPECT_EQ(GlobalLock(block), again); // nested lock
    EXPECT_EQ(GlobalUnlock(block), 1);
    EXPECT_EQ(GlobalUnlock(block), 0);
    EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(GlobalMemory, NullFreedAndForeignHandlesAreRefused) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 16);
    ASSERT_EQ(GlobalFree(block), nullptr);
    int local = 0;
    const HGLOBAL foreign[] = {nullptr, block, &local, reinterpret_cast<HGLOBAL>(0x10),
                               reinterpret_cast<HGLOBAL>(~uintptr_t{0})};
    for (HGLOBAL handle : foreign) {
        EXPECT_EQ(GlobalLock(handle), nullptr);
        EXPECT_EQ(GlobalSize(handle), 0u);
        EXPECT_EQ(GlobalUnlock(handle), 0);
    }
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
    EXPECT_EQ(GlobalFree(&local), static_cast<HGLOBAL>(&local)); // not ours: handed back
}

TEST(GlobalMemory, FixedBlockHandleIsItsAddressAndZeroSizeMovableLocksToNull) {
    HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 8);
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(GlobalLock(fixed), fixed);
    EXPECT_EQ(GlobalUnlock(fixed), 0);
    EXPECT_EQ(GlobalFree(fixed), nullptr);

    HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(GlobalLock(empty), nullptr);
    EXPECT_EQ(GlobalSize(empty), 0u);
    EXPECT_EQ(GlobalFree(empty), nullptr);
}

TEST(GlobalMemory, ImpossibleSizeFailsCleanly) {
    EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, SIZE_MAX / 2), nullptr);
}
