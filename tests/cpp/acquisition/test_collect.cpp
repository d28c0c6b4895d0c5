// The three raw collection functions against the simulated detector: argument checks without
// USB traffic, plain collection, every trigger mode with its edge or level at a packet boundary,
// and bursts that each wait for their own trigger.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "sim_detector.h"

namespace {

constexpr uint16_t kS = 1u << 14;
constexpr uint16_t kT = 1u << 15;
constexpr uint16_t kUnwritten = 0xABCD;

class Collect : public SimDetectorTest {
  protected:
    // Stream words one transfer long, so that every transfer (and the first one delivered, after
    // the four discarded) starts at word 0. `port` gives the level of bit `bit` at each word;
    // `noise` sets the other port bit in a pattern that must never matter.
    void attach_with_levels(uint16_t bit, const std::function<int(uint64_t)> &port) {
        attach();
        const uint16_t other = bit == kS ? kT : kS;
        std::vector<uint16_t> words(transfer);
        for (uint64_t i = 0; i < transfer; ++i)
            words[i] = uint16_t((i * 7) & 0x3FFF) | (port(i) ? bit : 0) | ((i / 3) % 2 ? other : 0);
        detector->set_samples(words);
        stream = words;
    }

    std::vector<uint16_t> stream;
};

TEST_F(Collect, ZeroCountsNullBuffersAndBadModesTouchNoDevice) {
    attach();
    const uint64_t produced = detector->produced();
    uint16_t word = kUnwritten;
    auto raw = [&](uint16_t *b, uint64_t n) { return zv_get_raw_data(dev, b, n); };
    auto triggered = [&](uint16_t *b, uint64_t n) {
        return zv_get_raw_data_triggered(dev, b, n, ZV_TRIGGER_S_UP);
    };
    auto bursts = [&](uint16_t *b, uint64_t n) {
        return zv_get_raw_data_per_trigger(dev, b, n, ZV_TRIGGER_S_UP, 1);
    };
    for (const auto &call :
         {std::function<int(uint16_t *, uint64_t)>(raw), {triggered}, {bursts}}) {
        EXPECT_EQ(call(nullptr, 0), 0);
        EXPECT_EQ(call(&word, 0), 0);
        EXPECT_EQ(call(nullptr, 5), 48);
        EXPECT_STREQ(zv_get_error_string(), "buff shouldn't be null");
    }
    EXPECT_EQ(zv_get_raw_data(nullptr, &word, 1), 50);
    EXPECT_EQ(zv_get_raw_data_triggered(nullptr, &word, 1, ZV_TRIGGER_NONE), 50);
    EXPECT_EQ(zv_get_raw_data_per_trigger(nullptr, &word, 1, ZV_TRIGGER_NONE, 1), 50);
    EXPECT_STREQ(zv_get_error_string(), "invalid device");

    EXPECT_EQ(zv_get_raw_data_triggered(dev, &word, 1, ZV_TRIGGER_MODE_t(9)), 48);
    EXPECT_STREQ(zv_get_error_string(), "invalid trigger mode");
    EXPECT_EQ(zv_get_raw_data_per_trigger(dev, &word, 1, ZV_TRIGGER_MODE_t(9), 1), 48);
    EXPECT_STREQ(zv_get_error_string(), "invalid trigger mode");
    EXPECT_EQ(zv_get_raw_data_per_trigger(dev, &word, 1, ZV_TRIGGER_S_UP, 0), 48);
    EXPECT_STREQ(zv_get_error_string(), "samples_per_trigger can't be 0");

    EXPECT_EQ(word, kUnwritten);
    EXPECT_EQ(detector->produced(), produced);
    EXPECT_EQ(detector->alt_setting(), 0);
}

TEST_F(Collect, BufferShorterThanOneBurstCollectsNothing) {
    attach();
    const uint64_t produced = detector->produced();
    std::vector<uint16_t> buffer(8, kUnwritten);
    // Only the first 5 places belong to the call; the rest guard against overruns.
    EXPECT_EQ(zv_get_raw_data_per_trigger(dev, buffer.data(), 5, ZV_TRIGGER_NONE, 6), 0);
    EXPECT_EQ(buffer, std::vector<uint16_t>(8, kUnwritten));
    EXPECT_EQ(detector->produced(), produced);
}

TEST_F(Collect, PlainCollectionFillsExactlyTheBuffer) {
    attach_with_levels(kS, [](uint64_t) { return 0; });
    const uint64_t n = 3 * packet + 17;
    std::vector<uint16_t> buffer(n + 16, kUnwritten);
    ASSERT_EQ(zv_get_raw_data(dev, buffer.data(), n), 0);
    for (uint64_t i = 0; i < n; ++i)
        ASSERT_EQ(buffer[i], stream[i]) << i;
    for (uint64_t i = n; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], kUnwritten);
}

struct ModeCase {
    ZV_TRIGGER_MODE_t mode;
    uint16_t bit;
    // The port level at word i, given the first word of packet 1 (p): arranged so that the
    // collection must start exactly at p.
    std::function<int(uint64_t i, uint64_t p)> level;
};

TEST_F(Collect, EveryTriggerModeStartsAtThePacketBoundary) {
    // Edges: the opposite level appears only on the last word of packet 0 (the arming word), and
    // the level from the first word of packet 1. Levels: the level starts at packet 1.
    const std::vector<ModeCase> cases = {
        {ZV_TRIGGER_S_UP, kS, [](uint64_t i, uint64_t p) { return i + 1 != p; }},
        {ZV_TRIGGER_S_DOWN, kS, [](uint64_t i, uint64_t p) { return i + 1 == p; }},
        {ZV_TRIGGER_S_HIGH, kS, [](uint64_t i, uint64_t p) { return i >= p; }},
        {ZV_TRIGGER_S_LOW, kS, [](uint64_t i, uint64_t p) { return i < p; }},
        {ZV_TRIGGER_T_UP, kT, [](uint64_t i, uint64_t p) { return i + 1 != p; }},
        {ZV_TRIGGER_T_DOWN, kT, [](uint64_t i, uint64_t p) { return i + 1 == p; }},
        {ZV_TRIGGER_T_HIGH, kT, [](uint64_t i, uint64_t p) { return i >= p; }},
        {ZV_TRIGGER_T_LOW, kT, [](uint64_t i, uint64_t p) { return i < p; }},
    };
    for (const ModeCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode);
        zv_close(dev);
        dev = nullptr;
        zvsim::detach_all();
        attach_with_levels(c.bit, [&](uint64_t i) { return c.level(i, packet); });
        const uint64_t p = packet;
        const uint64_t n = 2 * packet + 5;
        std::vector<uint16_t> buffer(n + 4, kUnwritten);
        ASSERT_EQ(zv_get_raw_data_triggered(dev, buffer.data(), n, c.mode), 0);
        for (uint64_t i = 0; i < n; ++i)
            ASSERT_EQ(buffer[i], stream[p + i]) << i;
        EXPECT_EQ(buffer[n], kUnwritten);
    }
}

TEST_F(Collect, EachBurstWaitsForItsOwnRisingEdge) {
    // S high on [5000, 10000) of every 10000 words: rising edges at 5000, 15000, 25000 ... Bursts
    // of 9700 words end in the low part (the second across the boundary of packets 0 and 1), so
    // each must wait for the next edge.
    attach_with_levels(kS, [](uint64_t i) { return i % 10000 >= 5000; });
    ASSERT_TRUE(packet > 15000 && packet < 24700) << "the edges are placed for SuperSpeed packets";
    const uint64_t burst = 9700, bursts = 3, extra = 55;
    const uint64_t n = bursts * burst + extra;
    std::vector<uint16_t> buffer(n, kUnwritten);
    ASSERT_EQ(zv_get_raw_data_per_trigger(dev, buffer.data(), n, ZV_TRIGGER_S_UP, burst), 0);
    for (uint64_t b = 0; b < bursts; ++b)
        for (uint64_t i = 0; i < burst; ++i)
            ASSERT_EQ(buffer[b * burst + i], stream[5000 + 10000 * b + i]) << b << ":" << i;
    // The places no whole burst fits into stay unwritten.
    for (uint64_t i = bursts * burst; i < n; ++i)
        EXPECT_EQ(buffer[i], kUnwritten);
}

TEST_F(Collect, TenSamplesInBurstsOfThreeWriteNine) {
    attach_with_levels(kT, [](uint64_t i) { return i % 8 >= 4; });
    std::vector<uint16_t> buffer(10, kUnwritten);
    ASSERT_EQ(zv_get_raw_data_per_trigger(dev, buffer.data(), 10, ZV_TRIGGER_T_HIGH, 3), 0);
    // High on words 4..7, 12..15, ...: a burst starts at the first high word from where the last
    // one ended, and then takes the words as they come.
    const std::vector<uint16_t> expected = {stream[4], stream[5],  stream[6],  stream[7], stream[8],
                                            stream[9], stream[12], stream[13], stream[14]};
    EXPECT_EQ(std::vector<uint16_t>(buffer.begin(), buffer.begin() + 9), expected);
    EXPECT_EQ(buffer[9], kUnwritten);
}

TEST_F(Collect, ModeNoneBurstsAreBackToBack) {
    attach_with_levels(kS, [](uint64_t i) { return i % 2; });
    std::vector<uint16_t> buffer(3 * 1000 + 1, kUnwritten);
    ASSERT_EQ(zv_get_raw_data_per_trigger(dev, buffer.data(), buffer.size(), ZV_TRIGGER_NONE, 1000),
              0);
    EXPECT_EQ(std::vector<uint16_t>(buffer.begin(), buffer.end() - 1),
              std::vector<uint16_t>(stream.begin(), stream.begin() + 3000));
    EXPECT_EQ(buffer.back(), kUnwritten);
}

} // namespace
