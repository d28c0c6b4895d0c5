// The copy sink and the trigger sink fed packets by hand: what they copy, where they stop, and
// that they never write past the caller's buffer.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "libzv/sink_copy.h"
#include "libzv/sink_trigger.h"

namespace {

constexpr uint16_t kS = 1u << 14;
constexpr uint16_t kGuard = 0xBEEF;

std::vector<uint16_t> ramp(size_t n, uint16_t first = 0) {
    std::vector<uint16_t> out(n);
    std::iota(out.begin(), out.end(), first);
    return out;
}

// A caller's buffer of `n` places followed by guard words that must stay untouched.
struct GuardedBuffer {
    explicit GuardedBuffer(size_t n) : size(n), words(n + 64, 0) {
        for (size_t i = n; i < words.size(); ++i)
            words[i] = kGuard;
    }
    uint16_t *data() { return words.data(); }
    bool guard_intact() const {
        for (size_t i = size; i < words.size(); ++i)
            if (words[i] != kGuard) return false;
        return true;
    }
    size_t size;
    std::vector<uint16_t> words;
};

int feed(zv_sample_sink sink, void *record, const std::vector<uint16_t> &packet, int lost = 0) {
    return sink(packet.data(), int(packet.size()), lost, record);
}

zv::TriggerSinkRecord trigger_record(uint16_t *buffer, ZV_TRIGGER_MODE_t mode, uint64_t bursts,
                                     uint64_t burst_length) {
    zv::TriggerSinkRecord record{buffer, burst_length, bursts, burst_length,
                                 zv_trigger_state{0, 0, 14, 1, ZV_TRIGGER_NONE}};
    EXPECT_EQ(zv::trigger_configure(record.trigger, mode), 0);
    return record;
}

TEST(CopySink, CopiesUntilFullAndNoFurther) {
    GuardedBuffer buffer(10);
    zv::CopySinkRecord record{buffer.data(), 10};
    EXPECT_NE(feed(zv::copy_sink, &record, ramp(4)), 0);
    EXPECT_EQ(feed(zv::copy_sink, &record, ramp(8, 100)), 0);
    EXPECT_EQ(record.remaining, 0u);
    const std::vector<uint16_t> expected = {0, 1, 2, 3, 100, 101, 102, 103, 104, 105};
    EXPECT_EQ(std::vector<uint16_t>(buffer.words.begin(), buffer.words.begin() + 10), expected);
    // Called again after it said stop, it writes nothing.
    EXPECT_EQ(feed(zv::copy_sink, &record, ramp(8)), 0);
    EXPECT_TRUE(buffer.guard_intact());
}

TEST(CopySink, NegativeCountCopiesNothing) {
    GuardedBuffer buffer(4);
    zv::CopySinkRecord record{buffer.data(), 4};
    const std::vector<uint16_t> packet = ramp(8, 1);
    EXPECT_NE(zv::copy_sink(packet.data(), -3, 0, &record), 0);
    EXPECT_EQ(record.remaining, 4u);
    EXPECT_EQ(buffer.words[0], 0);
}

TEST(TriggerSink, WaitsForTheTriggerAcrossPackets) {
    GuardedBuffer buffer(6);
    auto record = trigger_record(buffer.data(), ZV_TRIGGER_S_UP, 1, 6);
    std::vector<uint16_t> first = ramp(4, 10);
    for (uint16_t &sample : first)
        sample |= kS; // high before any low: no edge
    EXPECT_NE(feed(zv::trigger_sink, &record, first), 0);
    std::vector<uint16_t> second = ramp(4, 20); // low: arms
    EXPECT_NE(feed(zv::trigger_sink, &record, second), 0);
    EXPECT_EQ(buffer.words[0], 0);
    std::vector<uint16_t> third = ramp(8, 30);
    for (size_t i = 2; i < third.size(); ++i)
        third[i] |= kS;
    EXPECT_EQ(feed(zv::trigger_sink, &record, third), 0);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(buffer.words[i], third[2 + i]) << i;
    EXPECT_TRUE(buffer.guard_intact());
}

TEST(TriggerSink, EachBurstWaitsForItsOwnTriggerInsideOnePacket) {
    // Level S high; bursts of 3. The packet: low low high high high low high high high high.
    GuardedBuffer buffer(6);
    auto record = trigger_record(buffer.data(), ZV_TRIGGER_S_UP, 2, 3);
    std::vector<uint16_t> packet = ramp(10);
    for (int i : {2, 3, 4, 6, 7, 8, 9})
        packet[i] |= kS;
    EXPECT_EQ(feed(zv::trigger_sink, &record, packet), 0);
    const std::vector<uint16_t> expected = {packet[2], packet[3], packet[4],
                                            packet[6], packet[7], packet[8]};
    EXPECT_EQ(std::vector<uint16_t>(buffer.words.begin(), buffer.words.begin() + 6), expected);
    EXPECT_EQ(record.bursts, 0u);
    EXPECT_TRUE(buffer.guard_intact());
}

TEST(TriggerSink, NoBurstLeftWritesNothing) {
    // bursts 0 arises when the buffer is shorter than one burst: nothing may be written.
    GuardedBuffer buffer(2);
    auto record = trigger_record(buffer.data(), ZV_TRIGGER_NONE, 0, 5);
    EXPECT_EQ(feed(zv::trigger_sink, &record, ramp(8, 1)), 0);
    EXPECT_EQ(buffer.words[0], 0);
    EXPECT_EQ(buffer.words[1], 0);
    EXPECT_TRUE(buffer.guard_intact());
}

TEST(TriggerSink, WarnsOfDataLossOnEveryPassThroughThePacket) {
    GuardedBuffer buffer(4);
    auto record = trigger_record(buffer.data(), ZV_TRIGGER_NONE, 2, 2);
    testing::internal::CaptureStdout();
    // The packet completes the first burst and goes on with the second: two passes.
    EXPECT_EQ(feed(zv::trigger_sink, &record, ramp(6), 1), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "warning: data loss detected!\nwarning: data loss detected!\n");
    EXPECT_TRUE(buffer.guard_intact());
}

} // namespace
