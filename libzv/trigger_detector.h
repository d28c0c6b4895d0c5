// Finds where a triggered collection starts: a level or an edge of port S (sample bit 14) or
// port T (bit 15), carried in the raw samples themselves. The state carries over from packet to
// packet, so an edge split across two packets is still seen.
#pragma once

#include <cstdint>

#include "libzv.h"

struct zv_trigger_state {
    int triggered; // collection has started
    int armed;     // the opposite level was seen (edges) or is not needed (levels)
    int bit;       // 14 (port S) or 15 (port T)
    int level;     // the level that triggers: 0 or 1
    ZV_TRIGGER_MODE_t mode;
};

namespace zv {

// Sets the detector up for `mode`: returns 0, or stores and returns 48 "invalid trigger mode"
// for a mode above 8, leaving the state as it was.
int trigger_configure(zv_trigger_state &state, ZV_TRIGGER_MODE_t mode);

// The index in samples[0, count) where collection starts, or -1 when it does not start in them.
int trigger_search(zv_trigger_state &state, const uint16_t *samples, int count);

} // namespace zv
