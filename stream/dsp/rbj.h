// RBJ ("audio EQ cookbook") low-pass biquad.
#pragma once

#include "stream/dsp/biquad.h"

namespace Dsp {
namespace RBJ {

// One biquad with quality q at cutoff_frequency; no gain normalisation (DC gain is 1 anyway).
class LowPass : public BiquadBase {
  public:
    void design(double sample_rate, double cutoff_frequency, double q);
};

} // namespace RBJ
} // namespace Dsp
