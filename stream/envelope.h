// The min/max envelope: a block of samples folded into columns of (minimum, maximum), so that a
// trace drawn one column per pixel still shows every sample's excursion, a single-sample spike
// included. Sample i of n belongs to column floor(i * columns / n); with more columns than
// samples, a column that holds no sample repeats the sample before it (the trace is drawn as
// steps).
//
// Floating-point samples are compared by their total order (-0.0 below +0.0, a NaN beyond the
// infinities on the side of its sign), so any grouping of the comparisons gives the same bits and
// the vector path agrees with the portable one exactly. A column holding a NaN reports that NaN as
// both its minimum and its maximum (a positive NaN if it holds both signs).
#pragma once

#include <cstdint>

namespace zv {

enum class EnvelopePath {
    portable,  // plain loops, for any processor
    avx2,      // 256-bit vectors; only where cpu_has_avx2()
    automatic, // the fastest this processor runs
};

// Folds n >= 1 samples into columns >= 1 pairs; mins and maxs hold `columns` elements each.
template <typename T>
void envelope(const T *samples, uint64_t n, uint64_t columns, T *mins, T *maxs,
              EnvelopePath path = EnvelopePath::automatic);

extern template void envelope<uint16_t>(const uint16_t *, uint64_t, uint64_t, uint16_t *,
                                        uint16_t *, EnvelopePath);
extern template void envelope<float>(const float *, uint64_t, uint64_t, float *, float *,
                                     EnvelopePath);
extern template void envelope<double>(const double *, uint64_t, uint64_t, double *, double *,
                                      EnvelopePath);

} // namespace zv
