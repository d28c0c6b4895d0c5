// Chebyshev type I low pass: equal ripple in the pass band, a steeper edge than Butterworth.
#pragma once

#include "stream/dsp/analog_prototypes.h"
#include "stream/dsp/pole_filter.h"

namespace Dsp {
namespace ChebyshevI {

class LowPassBase : public PoleFilterBase<AnalogLowPass> {
  protected:
    // Designs order poles with ripple_db of pass-band ripple; order is in range.
    void setup(int order, double sample_rate, double cutoff_frequency, double ripple_db);
};

// Chebyshev type I low pass of order up to MaxOrder. An order out of 0..MaxOrder is clamped
// into it. Even orders have the bottom of the ripple, 10^(-ripple_db/20), as DC gain.
template <int MaxOrder> class LowPass : public PoleFilter<LowPassBase, MaxOrder> {
  public:
    void design(int order, double sample_rate, double cutoff_frequency, double ripple_db) {
        this->setup(this->clamp_order(order), sample_rate, cutoff_frequency, ripple_db);
    }
};

} // namespace ChebyshevI
} // namespace Dsp
