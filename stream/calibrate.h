// The calibration line every processor applies first: out[i] = (raw[i] & 0x3FFF) * scale + offset,
// computed in T arithmetic (one multiplication and one addition, never fused), vectorised with
// AVX2 when the processor has it; every path gives the same bits.
#pragma once

#include <cstdint>

#include "libzv/libzv.h"

// Masks the port bits (14 and 15) off a raw word, leaving the ADC code.
constexpr uint16_t kAdcCodeMask = ZV_SAMPLE_CODE_MASK;
// The port levels of a raw word (bit 0 port S, bit 1 port T) start at this bit.
constexpr int kPortBitsShift = ZV_SAMPLE_PORT_S_BIT;

// The fastest path this processor runs.
template <typename T> void calibrate(const uint16_t *raw, int32_t count, T scale, T offset, T *out);

// The individual paths, for checking that they agree.
template <typename T>
void calibrate_portable(const uint16_t *raw, int32_t count, T scale, T offset, T *out);
// Whether this processor can run calibrate_avx2 (false on other architectures).
bool cpu_has_avx2();
// Only to be called when cpu_has_avx2().
void calibrate_avx2(const uint16_t *raw, int32_t count, float scale, float offset, float *out);
void calibrate_avx2(const uint16_t *raw, int32_t count, double scale, double offset, double *out);

extern template void calibrate<float>(const uint16_t *, int32_t, float, float, float *);
extern template void calibrate<double>(const uint16_t *, int32_t, double, double, double *);
extern template void calibrate_portable<float>(const uint16_t *, int32_t, float, float, float *);
extern template void calibrate_portable<double>(const uint16_t *, int32_t, double, double,
                                                double *);
