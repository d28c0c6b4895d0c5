#include "stream/dsp/pole_filter.h"

namespace Dsp {

std::vector<PoleZeroPair> PoleFilterBase2::pole_zeros() const {
    return std::vector<PoleZeroPair>(digital_.pairs.begin(),
                                     digital_.pairs.begin() + digital_.num_pairs());
}

} // namespace Dsp
