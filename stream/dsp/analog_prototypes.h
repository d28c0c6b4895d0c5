// Normalised analog low-pass prototypes (cutoff 1 rad/s) as pole/zero sets.
#pragma once

#include "stream/dsp/pole_zero.h"

namespace Dsp {

namespace Butterworth {

// Butterworth prototype: poles evenly spaced on the left half of the unit circle, all zeros at
// infinity, unit gain at DC. Redesigns only when the order changes.
class AnalogLowPass : public PoleZeroSet {
  public:
    void design(int num_poles);

  private:
    int designed_poles_ = -1;
};

} // namespace Butterworth

namespace ChebyshevI {

// Chebyshev type I prototype with ripple_db of pass-band ripple, zeros at infinity. The DC gain
// is 1 for an odd order and the bottom of the ripple for an even one. Redesigns only when the
// order or the ripple changes.
class AnalogLowPass : public PoleZeroSet {
  public:
    void design(int num_poles, double ripple_db);

  private:
    int designed_poles_ = -1;
    double designed_ripple_db_ = 0.0;
};

} // namespace ChebyshevI

} // namespace Dsp
