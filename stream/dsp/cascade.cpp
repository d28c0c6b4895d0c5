#include "stream/dsp/cascade.h"

#include <algorithm>
#include <cmath>

namespace Dsp {

complex_t Cascade::response(double normalized_frequency) const {
    return cascade_response(stages_, num_stages_, normalized_frequency);
}

void Cascade::set_layout(const PoleZeroSet &digital) {
    num_stages_ = std::clamp(digital.num_pairs(), 0, max_stages_);
    for (int i = 0; i < num_stages_; ++i)
        stages_[i].set_pole_zero_pair(digital.pairs[i]);
    if (num_stages_ == 0) return;
    const double gain = std::abs(response(digital.normal_frequency / (2.0 * kPi)));
    stages_[0].apply_scale(digital.normal_gain / gain);
}

void Cascade::set_stage_storage(BiquadBase *stages, int max_stages) {
    stages_ = stages;
    max_stages_ = max_stages;
    num_stages_ = std::clamp(num_stages_, 0, max_stages_);
}

} // namespace Dsp
