// Butterworth low pass: maximally flat pass band, unit gain at DC.
#pragma once

#include "stream/dsp/analog_prototypes.h"
#include "stream/dsp/pole_filter.h"

namespace Dsp {
namespace Butterworth {

class LowPassBase : public PoleFilterBase<AnalogLowPass> {
  protected:
    // Designs order poles at cutoff_frequency (same unit as sample_rate); order is in range.
    void setup(int order, double sample_rate, double cutoff_frequency);
};

// Butterworth low pass of order up to MaxOrder. An order out of 0..MaxOrder is clamped into it
// (order 0 passes samples through unchanged).
template <int MaxOrder> class LowPass : public PoleFilter<LowPassBase, MaxOrder> {
  public:
    void design(int order, double sample_rate, double cutoff_frequency) {
        this->setup(this->clamp_order(order), sample_rate, cutoff_frequency);
    }
};

} // namespace Butterworth
} // namespace Dsp
