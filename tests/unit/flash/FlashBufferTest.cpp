#include <gtest/gtest.h>

#include <cstring>

#include "flash/FlashBuffer.h"

namespace {

TEST(FlashBufferTest, ReleasedBufferServesTheNextRunOfTheSameSize) {
    const int live = LiveFlashBuffers();
    FlashBuffer first = AllocateFlashBuffer(0x20000);
    ASSERT_TRUE(first);
    EXPECT_EQ(LiveFlashBuffers(), live + 1);
    uint8_t* const memory = first.get();
    first.reset();
    EXPECT_EQ(LiveFlashBuffers(), live);
    FlashBuffer again = AllocateFlashBuffer(0x20000);
    EXPECT_EQ(again.get(), memory);
}

TEST(FlashBufferTest, EveryBufferHasTheWholeSizeAskedFor) {
    // A kept buffer of another size must never be handed out; the
    // sanitizers see a write past the end.
    for (size_t size : {size_t{0x100}, size_t{0x40000}, size_t{0x100}, size_t{0x20000},
                        size_t{0x40000}, size_t{1}}) {
        FlashBuffer a = AllocateFlashBuffer(size);
        FlashBuffer b = AllocateFlashBuffer(size);
        ASSERT_TRUE(a && b);
        EXPECT_NE(a.get(), b.get());
        std::memset(a.get(), 0xA5, size);
        std::memset(b.get(), 0x5A, size);
        EXPECT_EQ(a[size - 1], 0xA5);
    }
}

TEST(FlashBufferTest, AnImpossibleSizeIsRefusedWithoutThrowing) {
    const int live = LiveFlashBuffers();
    EXPECT_FALSE(AllocateFlashBuffer(static_cast<size_t>(-1)));
    EXPECT_EQ(LiveFlashBuffers(), live);
}

}  // namespace
