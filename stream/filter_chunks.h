// Calibrating and filtering a block in pieces that stay in the first-level cache: the filter
// then reads back what the calibration has just written.
#pragma once

#include <algorithm>
#include <cstdint>

#include "stream/calibrate.h"
#include "stream/processing_state.h"

// Samples calibrated and then filtered at a time.
constexpr int32_t kFilterChunk = 4096;

// Writes the calibrated block into out and runs filter(count, channels) over it in place, where
// filter takes one channel as Dsp filters do.
template <typename T, class Filter>
void calibrate_and_filter(const ProcessingState<T> &state, int32_t count, const uint16_t *raw,
                          T *out, Filter &filter) {
    const T scale = state.calibration_scale;
    const T offset = state.calibration_offset;
    for (int32_t at = 0; at < count; at += kFilterChunk) {
        const int32_t n = std::min(kFilterChunk, count - at);
        T *chunk = out + at;
        calibrate(raw + at, n, scale, offset, chunk);
        T *channels[1] = {chunk};
        filter.process(n, channels);
    }
}
