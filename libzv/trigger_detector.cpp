#include "trigger_detector.h"

#include "errors.h"

namespace zv {
namespace {

constexpr int kBitS = ZV_SAMPLE_PORT_S_BIT;
constexpr int kBitT = ZV_SAMPLE_PORT_T_BIT;

struct TriggerCondition {
    int bit;
    int level;
    bool armed; // levels trigger at once; edges need the opposite level first
};

// Modes 1 to 8, in the order of ZV_TRIGGER_MODE_t.
constexpr TriggerCondition kConditions[] = {
    {kBitS, 1, false}, // ZV_TRIGGER_S_UP
    {kBitS, 0, false}, // ZV_TRIGGER_S_DOWN
    {kBitS, 1, true},  // ZV_TRIGGER_S_HIGH
    {kBitS, 0, true},  // ZV_TRIGGER_S_LOW
    {kBitT, 1, false}, // ZV_TRIGGER_T_UP
    {kBitT, 0, false}, // ZV_TRIGGER_T_DOWN
    {kBitT, 1, true},  // ZV_TRIGGER_T_HIGH
    {kBitT, 0, true},  // ZV_TRIGGER_T_LOW
};
constexpr unsigned kLastMode = sizeof(kConditions) / sizeof(kConditions[0]);

inline int level_of(uint16_t sample, int bit) {
    return (sample >> bit) & 1;
}

} // namespace

int trigger_configure(zv_trigger_state &state, ZV_TRIGGER_MODE_t mode) {
    const unsigned m = static_cast<unsigned>(mode);
    if (m > kLastMode) return set_error(Error::invalid_trigger_mode);
    state.mode = mode;
    if (m == ZV_TRIGGER_NONE) {
        state.triggered = 1;
        state.armed = 1;
        return 0;
    }
    const TriggerCondition &c = kConditions[m - 1];
    state.bit = c.bit;
    state.level = c.level;
    state.armed = c.armed ? 1 : 0;
    state.triggered = 0;
    return 0;
}

int trigger_search(zv_trigger_state &state, const uint16_t *samples, int count) {
    int i = 0;
    // The sample that arms an edge trigger is consumed: the edge is the next sample at the level.
    for (; !state.armed && i < count; ++i)
        if (level_of(samples[i], state.bit) != state.level) state.armed = 1;
    if (state.triggered) return i;
    for (; i < count; ++i)
        if (level_of(samples[i], state.bit) == state.level) {
            state.triggered = 1;
            return i;
        }
    return -1;
}

} // namespace zv
