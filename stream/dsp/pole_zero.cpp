#include "stream/dsp/pole_zero.h"

namespace Dsp {

void PoleZeroSet::add_pair(const PoleZeroPair &pair) {
    if (num_poles % 2 != 0 || num_poles / 2 >= static_cast<int>(pairs.size())) return;
    pairs[num_poles / 2] = pair;
    num_poles += pair.is_single() ? 1 : 2;
}

void PoleZeroSet::add_single(complex_t p, complex_t z) {
    add_pair({p, 0.0, z, 0.0});
}

void PoleZeroSet::add_conjugate_pairs(complex_t p, complex_t z) {
    add_pair({p, std::conj(p), z, std::conj(z)});
}

} // namespace Dsp
