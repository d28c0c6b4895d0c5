#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream/stream_impl.h"
#include "stream/zv_stream.h"
#include "stream_test_support.h"

namespace {

template <typename T> class StreamRun : public ::testing::Test {
  protected:
    StreamRun() { stream.set_calibration_mode("none"); }
    ZVStreamImpl<T> stream{nullptr};
};
using ElementTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(StreamRun, ElementTypes);

// A supply whose blocks are all empty while it keeps asking for more.
template <typename T> struct EmptyBlockSupply : ZVStreamSupply<T> {
    T *next_block(int32_t &count) override {
        count = 0;
        return &dummy;
    }
    uint8_t *flag_block(int32_t) override { return nullptr; }
    int32_t advance(int32_t, int32_t) override { return ++advances < 1000000; }
    T dummy{};
    int advances = 0;
};

// A supply that hands out a null block of ten elements.
template <typename T> struct NullBlockSupply : ZVStreamSupply<T> {
    T *next_block(int32_t &count) override {
        count = 10;
        return nullptr;
    }
    uint8_t *flag_block(int32_t) override { return nullptr; }
    int32_t advance(int32_t, int32_t) override { return 1; }
};

} // namespace

TYPED_TEST(StreamRun, SimulateDeliversTheRampAndPortLevels) {
    const size_t n = 70000; // past one wrap of the 16-bit ramp
    std::vector<TypeParam> out(n + 5, TypeParam(-1));
    std::vector<uint8_t> flags(n + 5, 0xEE);
    ASSERT_EQ(this->stream.simulate(n, out.data(), flags.data()), 0);
    for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(out[i], TypeParam(i & 0x3FFF)) << i;
        ASSERT_EQ(flags[i], (i & 0xFFFF) >> 14) << i;
    }
    // Nothing is written past the requested count.
    for (size_t i = n; i < n + 5; ++i) {
        EXPECT_EQ(out[i], TypeParam(-1));
        EXPECT_EQ(flags[i], 0xEE);
    }
}

TYPED_TEST(StreamRun, SimulateOfTenThousandGivesTheCodesZeroToNineThousandNineHundredNinetyNine) {
    ZVStreamImpl<TypeParam> fresh(nullptr); // default "auto" calibration
    std::vector<TypeParam> out(10000);
    ASSERT_EQ(fresh.simulate(out.size(), out.data(), nullptr), 0);
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], TypeParam(i));
}

TYPED_TEST(StreamRun, ZeroSamplesWriteNothing) {
    TypeParam sentinel = TypeParam(-1);
    EXPECT_EQ(this->stream.simulate(0, &sentinel, nullptr), 0);
    EXPECT_EQ(sentinel, TypeParam(-1));
    EXPECT_EQ(this->stream.simulate(0, nullptr, nullptr), 0);
}

// Supply blocks of 777 elements end inside raw blocks of 1000 and 5120 words: every sample
// still lands in order.
TYPED_TEST(StreamRun, SupplyBlocksMayEndInsideRawBlocks) {
    auto &s = this->stream;
    const std::vector<uint16_t> words = ramp_words(20000);
    for (size_t raw_block : {size_t(1000), size_t(5120), size_t(1)}) {
        std::vector<TypeParam> out(words.size() - 3, TypeParam(-1));
        SimpleStreamSupply<TypeParam> supply(out.data(), nullptr, out.size(), 0, 777);
        ASSERT_EQ(s.prepare(&supply), 0);
        EXPECT_EQ(feed(s, words, raw_block), 0);
        for (size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(out[i], TypeParam(words[i] & 0x3FFF)) << "raw block " << raw_block;
    }
}

// Downsampling 3 over raw blocks of 1000: 0, 3, ..., 999, then index 2 of the next block.
TYPED_TEST(StreamRun, DownsamplingPhaseRunsOnAcrossRawBlocks) {
    auto &s = this->stream;
    ASSERT_EQ(s.set_downsampling(3), 0);
    const std::vector<uint16_t> words = ramp_words(9000);
    std::vector<TypeParam> out(3000);
    std::vector<uint8_t> flags(3000);
    SimpleStreamSupply<TypeParam> supply(out.data(), flags.data(), out.size());
    ASSERT_EQ(s.prepare(&supply), 0);
    EXPECT_EQ(s.process_raw(words.data(), 1000, 0), 1);
    EXPECT_EQ(s.phase(), 2);
    EXPECT_EQ(out[333], TypeParam(999));
    EXPECT_EQ(s.process_raw(words.data() + 1000, 1000, 0), 1);
    EXPECT_EQ(out[334], TypeParam(1002));
    EXPECT_EQ(s.phase(), 1);
    EXPECT_EQ(feed(s, std::vector<uint16_t>(words.begin() + 2000, words.end()), 1000), 0);
    for (size_t j = 0; j < out.size(); ++j)
        ASSERT_EQ(out[j], TypeParam(3 * j)) << j;
}

// Kept samples across supply blocks of 100, raw blocks of 1000, with their port levels.
TYPED_TEST(StreamRun, DownsamplingAcrossSupplyBlocksKeepsSpacingAndFlags) {
    auto &s = this->stream;
    ASSERT_EQ(s.set_downsampling(7), 0);
    const size_t n = 40000;
    std::vector<uint16_t> words = ramp_words(7 * n);
    std::vector<TypeParam> out(n, TypeParam(-1));
    std::vector<uint8_t> flags(n, 0xEE);
    SimpleStreamSupply<TypeParam> supply(out.data(), flags.data(), n, 0, 100);
    ASSERT_EQ(s.prepare(&supply), 0);
    EXPECT_EQ(feed(s, words, 1000), 0);
    for (size_t j = 0; j < n; ++j) {
        ASSERT_EQ(out[j], TypeParam(words[7 * j] & 0x3FFF)) << j;
        ASSERT_EQ(flags[j], words[7 * j] >> 14) << j;
    }
}

TYPED_TEST(StreamRun, DownsamplingLargerThanARawBlockStillKeepsOneInN) {
    auto &s = this->stream;
    ASSERT_EQ(s.set_downsampling(12000), 0);
    std::vector<TypeParam> out(5);
    ASSERT_EQ(s.simulate(out.size(), out.data(), nullptr), 0);
    for (size_t j = 0; j < out.size(); ++j)
        EXPECT_EQ(out[j], TypeParam((12000 * j) & 0x3FFF));
}

// The loss flag of a raw block reaches the supply with the first block it completes, once.
TYPED_TEST(StreamRun, LossIsReportedOnceToTheSupply) {
    auto &s = this->stream;
    ScriptedSupply<TypeParam> supply({300, 300, 300, 300});
    ASSERT_EQ(s.prepare(&supply), 0);
    const std::vector<uint16_t> words = ramp_words(1200);
    EXPECT_EQ(s.process_raw(words.data(), 700, 1), 1);
    EXPECT_EQ(s.process_raw(words.data() + 700, 500, 0), 0);
    ASSERT_EQ(supply.advances.size(), 4u);
    EXPECT_EQ(supply.advances[0].lost, 1);
    EXPECT_EQ(supply.advances[1].lost, 0);
    EXPECT_EQ(supply.advances[2].lost, 0);
    for (const auto &a : supply.advances)
        EXPECT_EQ(a.written, 300);
    for (size_t i = 0; i < 1200; ++i)
        ASSERT_EQ(supply.data()[i], TypeParam(i));
}

TYPED_TEST(StreamRun, SupplyOfEmptyBlocksEndsTheRunInsteadOfHanging) {
    auto &s = this->stream;
    EmptyBlockSupply<TypeParam> supply;
    ASSERT_EQ(s.prepare(&supply), 0);
    const std::vector<uint16_t> words = ramp_words(100);
    EXPECT_EQ(s.process_raw(words.data(), 100, 0), 0);
    EXPECT_EQ(supply.advances, 1);
}

TYPED_TEST(StreamRun, NullBlockIsReportedAndEndsTheRun) {
    auto &s = this->stream;
    NullBlockSupply<TypeParam> supply;
    ASSERT_EQ(s.prepare(&supply), 0);
    const std::vector<uint16_t> words = ramp_words(100);
    testing::internal::CaptureStdout();
    EXPECT_EQ(s.process_raw(words.data(), 100, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "outbuffer n less than 0\n");
}

TYPED_TEST(StreamRun, ProcessRawOutsideARunDoesNothing) {
    const std::vector<uint16_t> words = ramp_words(100);
    EXPECT_EQ(this->stream.process_raw(words.data(), 100, 0), 0);
    std::vector<TypeParam> out(10);
    ASSERT_EQ(this->stream.simulate(out.size(), out.data(), nullptr), 0);
    EXPECT_EQ(this->stream.process_raw(words.data(), 100, 0), 0);
}

TYPED_TEST(StreamRun, BenchmarkRefusesLengthsAndRepeatsThatCannotRun) {
    auto &s = this->stream;
    for (auto args : {std::pair<int32_t, int32_t>{0, 10}, {-5, 10}, {100, -1}}) {
        EXPECT_LT(s.benchmark(args.first, args.second, false), 0.0);
        EXPECT_EQ(zv_get_error(), 48);
        EXPECT_STREQ(zv_get_error_string(), "invalid parameters passed");
    }
    EXPECT_GE(s.benchmark(100, 0, false), 0.0);
    EXPECT_GT(s.benchmark(1, 3, true), 0.0);
    EXPECT_GT(s.benchmark(131072, 20, false), 0.0);

    s.set_filter("nonsense");
    testing::internal::CaptureStdout();
    EXPECT_LT(s.benchmark(1000, 10, false), 0.0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(zv_get_error(), 53);
}

// A stream runs any number of times; each run starts from a fresh phase.
TYPED_TEST(StreamRun, RunsRepeatWithFreshState) {
    auto &s = this->stream;
    s.set_downsampling(3);
    std::vector<TypeParam> first(1000), second(1000);
    ASSERT_EQ(s.simulate(first.size(), first.data(), nullptr), 0);
    ASSERT_EQ(s.simulate(second.size(), second.data(), nullptr), 0);
    EXPECT_EQ(first, second);
}
