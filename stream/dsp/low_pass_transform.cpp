#include "stream/dsp/low_pass_transform.h"

#include <cmath>

namespace Dsp {

namespace {

complex_t transform(complex_t c, double f) {
    if (std::isinf(c.real()) || std::isinf(c.imag())) return -1.0;
    return (1.0 + c * f) / (1.0 - c * f);
}

} // namespace

void low_pass_transform(double normalized_cutoff, PoleZeroSet &digital, const PoleZeroSet &analog) {
    const double f = std::tan(kPi * normalized_cutoff);
    digital.clear();
    for (int i = 0; i < analog.num_pairs(); ++i) {
        const PoleZeroPair &pair = analog.pairs[i];
        const complex_t pole = transform(pair.pole1, f);
        const complex_t zero = transform(pair.zero1, f);
        if (pair.is_single())
            digital.add_single(pole, zero);
        else
            digital.add_conjugate_pairs(pole, zero);
    }
    digital.normal_frequency = analog.normal_frequency;
    digital.normal_gain = analog.normal_gain;
}

} // namespace Dsp
