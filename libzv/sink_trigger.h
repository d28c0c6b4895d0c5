// The sink of triggered collection: waits for the trigger, then copies one burst of samples;
// with several bursts, each one waits for a trigger of its own.
#pragma once

#include <chrono>
#include <cstdint>

#include "trigger_detector.h"

namespace zv {

struct TriggerSinkRecord {
    uint16_t *write;       // next place in the caller's buffer
    uint64_t remaining;    // samples still to copy in the current burst
    uint64_t bursts;       // bursts not yet complete
    uint64_t burst_length; // samples per burst
    zv_trigger_state trigger;
    // How long a trigger may keep the collection waiting, counted from the first samples and
    // again from the end of each burst (negative: without limit); set when it ran out.
    int32_t timeout_ms = -1;
    std::chrono::steady_clock::time_point deadline{};
    bool waiting = false; // the deadline is set
    bool timed_out = false;
};

// A zv_sample_sink; `user` is a TriggerSinkRecord. Writes at most bursts x burst_length samples
// in all and stops the collection when the last burst is complete, or when a trigger does not
// come in time.
int trigger_sink(const uint16_t *samples, int count, int data_lost, void *user);

} // namespace zv
