// The trigger detector on plain arrays: levels and edges of ports S and T, the arming sample
// being consumed, state carried from one packet to the next, and invalid modes.
#include "libzv/trigger_detector.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr uint16_t kS = 1u << 14;
constexpr uint16_t kT = 1u << 15;

// Samples whose port bit (`mask`) follows `levels`; the ADC code counts up so that positions are
// recognisable.
std::vector<uint16_t> with_levels(uint16_t mask, const std::vector<int> &levels) {
    std::vector<uint16_t> out;
    for (size_t i = 0; i < levels.size(); ++i)
        out.push_back(uint16_t((i & 0x3FFF) | (levels[i] ? mask : 0)));
    return out;
}

zv_trigger_state configured(ZV_TRIGGER_MODE_t mode) {
    zv_trigger_state state{0, 0, 14, 1, ZV_TRIGGER_NONE};
    EXPECT_EQ(zv::trigger_configure(state, mode), 0);
    return state;
}

int search(zv_trigger_state &state, const std::vector<uint16_t> &samples) {
    return zv::trigger_search(state, samples.data(), int(samples.size()));
}

TEST(TriggerDetector, ConfigureSetsBitLevelAndArming) {
    struct Expected {
        ZV_TRIGGER_MODE_t mode;
        int bit, level, armed;
    };
    const Expected table[] = {
        {ZV_TRIGGER_S_UP, 14, 1, 0},   {ZV_TRIGGER_S_DOWN, 14, 0, 0}, {ZV_TRIGGER_S_HIGH, 14, 1, 1},
        {ZV_TRIGGER_S_LOW, 14, 0, 1},  {ZV_TRIGGER_T_UP, 15, 1, 0},   {ZV_TRIGGER_T_DOWN, 15, 0, 0},
        {ZV_TRIGGER_T_HIGH, 15, 1, 1}, {ZV_TRIGGER_T_LOW, 15, 0, 1},
    };
    for (const Expected &e : table) {
        zv_trigger_state state = configured(e.mode);
        EXPECT_EQ(state.bit, e.bit) << e.mode;
        EXPECT_EQ(state.level, e.level) << e.mode;
        EXPECT_EQ(state.armed, e.armed) << e.mode;
        EXPECT_EQ(state.triggered, 0) << e.mode;
        EXPECT_EQ(state.mode, e.mode);
    }
    zv_trigger_state none = configured(ZV_TRIGGER_NONE);
    EXPECT_EQ(none.triggered, 1);
    EXPECT_EQ(none.armed, 1);
}

TEST(TriggerDetector, ModeAboveEightIsRefusedAndLeavesTheState) {
    zv_trigger_state state = configured(ZV_TRIGGER_S_UP);
    EXPECT_EQ(zv::trigger_configure(state, ZV_TRIGGER_MODE_t(9)), 48);
    EXPECT_EQ(zv_get_error(), 48);
    EXPECT_STREQ(zv_get_error_string(), "invalid trigger mode");
    EXPECT_EQ(state.mode, ZV_TRIGGER_S_UP);
    EXPECT_EQ(state.bit, 14);
    EXPECT_EQ(zv::trigger_configure(state, ZV_TRIGGER_MODE_t(0xFFFFFFFFu)), 48);
}

TEST(TriggerDetector, RisingEdgeNeedsALowSampleFirst) {
    zv_trigger_state state = configured(ZV_TRIGGER_S_UP);
    EXPECT_EQ(search(state, with_levels(kS, {1, 1, 0, 0, 1})), 4);
    EXPECT_EQ(state.triggered, 1);
}

TEST(TriggerDetector, HighLevelStartsAtTheFirstHighSample) {
    zv_trigger_state state = configured(ZV_TRIGGER_S_HIGH);
    EXPECT_EQ(search(state, with_levels(kS, {0, 1})), 1);
    state = configured(ZV_TRIGGER_S_HIGH);
    EXPECT_EQ(search(state, with_levels(kS, {1, 0})), 0);
}

TEST(TriggerDetector, EveryModeOnItsOwnPortOnly) {
    // The other port toggles every sample and must never trigger anything.
    struct Case {
        ZV_TRIGGER_MODE_t mode;
        uint16_t port, other;
        std::vector<int> levels;
        int expected;
    };
    const std::vector<Case> cases = {
        {ZV_TRIGGER_S_UP, kS, kT, {1, 0, 0, 1, 1}, 3},
        {ZV_TRIGGER_S_DOWN, kS, kT, {0, 0, 1, 1, 0, 1}, 4},
        {ZV_TRIGGER_S_HIGH, kS, kT, {0, 0, 0, 1}, 3},
        {ZV_TRIGGER_S_LOW, kS, kT, {1, 1, 0}, 2},
        {ZV_TRIGGER_T_UP, kT, kS, {0, 1}, 1},
        {ZV_TRIGGER_T_DOWN, kT, kS, {0, 1, 1, 0}, 3},
        {ZV_TRIGGER_T_HIGH, kT, kS, {0, 1}, 1},
        {ZV_TRIGGER_T_LOW, kT, kS, {0, 1}, 0},
    };
    for (const Case &c : cases) {
        std::vector<uint16_t> samples = with_levels(c.port, c.levels);
        for (size_t i = 0; i < samples.size(); i += 2)
            samples[i] |= c.other;
        zv_trigger_state state = configured(c.mode);
        EXPECT_EQ(search(state, samples), c.expected) << "mode " << c.mode;
    }
}

TEST(TriggerDetector, ArmingSampleIsConsumedEvenWhenItIsTheLast) {
    // Falling edge: a high sample arms; the edge is the first low sample after it.
    zv_trigger_state state = configured(ZV_TRIGGER_S_DOWN);
    EXPECT_EQ(search(state, with_levels(kS, {0, 0, 1})), -1);
    EXPECT_EQ(state.armed, 1);
    EXPECT_EQ(state.triggered, 0);
    // The next packet starts low: the edge is its first sample.
    EXPECT_EQ(search(state, with_levels(kS, {0, 1})), 0);
}

TEST(TriggerDetector, StateCarriesOverEmptyAndQuietPackets) {
    zv_trigger_state state = configured(ZV_TRIGGER_T_UP);
    EXPECT_EQ(search(state, with_levels(kT, {1, 1, 1})), -1);
    EXPECT_EQ(state.armed, 0);
    EXPECT_EQ(zv::trigger_search(state, nullptr, 0), -1);
    EXPECT_EQ(search(state, with_levels(kT, {0, 0, 0})), -1);
    EXPECT_EQ(state.armed, 1);
    EXPECT_EQ(search(state, with_levels(kT, {0, 0, 1})), 2);
}

} // namespace
