// The part of a stream's state that its processor reads at every block: the calibration line
// applied to each raw code and where the stream will pick kept samples.
#pragma once

#include <cstdint>

template <typename T> struct ProcessingState {
    T calibration_scale = 1;
    T calibration_offset = 0;
    // Keep one processed sample in this many (values below 2 keep every sample).
    int32_t downsampling = 1;
    // Index, within the next raw block, of the next sample to keep when downsampling.
    int32_t phase = 0;
};
