#include <gtest/gtest.h>

#include <sys/mman.h>

#include <vector>

#include "stream/zv_stream.h"

TEST(SimpleStreamSupply, HandsOutBlocksUpToTheLimitUntilTheTotal) {
    std::vector<float> out(10);
    std::vector<uint8_t> flags(10);
    SimpleStreamSupply<float> supply(out.data(), flags.data(), 10, 0, 4);
    const int32_t expected[] = {4, 4, 2};
    for (int b = 0; b < 3; ++b) {
        int32_t count = -1;
        EXPECT_EQ(supply.next_block(count), out.data() + 4 * b);
        EXPECT_EQ(count, expected[b]);
        EXPECT_EQ(supply.flag_block(count), flags.data() + 4 * b);
        EXPECT_EQ(supply.advance(count, 0), b < 2 ? 1 : 0);
    }
    int32_t count = -1;
    supply.next_block(count);
    EXPECT_EQ(count, 0);

    SimpleStreamSupply<float> without_flags(out.data(), nullptr, 10);
    EXPECT_EQ(without_flags.flag_block(10), nullptr);
}

TEST(SimpleStreamSupply, LossRestartsOnlyWithinTheRetryLimit) {
    std::vector<float> out(8);
    SimpleStreamSupply<float> supply(out.data(), nullptr, 8, 1, 4);
    EXPECT_EQ(supply.advance(4, 1), 1);
    EXPECT_EQ(supply.position(), 0u);
    EXPECT_EQ(supply.retries(), 1);
    EXPECT_EQ(supply.advance(4, 1), 1);
    EXPECT_EQ(supply.position(), 4u);
    EXPECT_EQ(supply.advance(4, 0), 0);

    SimpleStreamSupply<float> no_retry(out.data(), nullptr, 8, 0, 4);
    no_retry.advance(4, 1);
    EXPECT_EQ(no_retry.position(), 4u);
}

// Counts of 2^32 and more (the destination is reserved address space that is never touched).
TEST(SimpleStreamSupply, CountsBeyondThirtyTwoBitsAreDeliveredWhole) {
    const uint64_t total = (uint64_t(1) << 32) + 1000;
    const size_t bytes = total * sizeof(float);
    void *space =
        mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(space, MAP_FAILED);
    float *base = static_cast<float *>(space);

    SimpleStreamSupply<float> supply(base, nullptr, total);
    uint64_t delivered = 0;
    uint64_t blocks = 0;
    int32_t more = 1;
    while (more) {
        int32_t count = 0;
        float *block = supply.next_block(count);
        ASSERT_EQ(block, base + delivered);
        ASSERT_GT(count, 0);
        ASSERT_LE(count, kSupplyBlockLimit);
        delivered += uint64_t(count);
        ++blocks;
        more = supply.advance(count, 0);
    }
    EXPECT_EQ(delivered, total);
    EXPECT_EQ(blocks, (total + kSupplyBlockLimit - 1) / kSupplyBlockLimit);
    munmap(space, bytes);
}
