// Bilinear transform, prewarped to the cutoff, of an analog low-pass prototype.
#pragma once

#include "stream/dsp/pole_zero.h"

namespace Dsp {

// Fills digital with the transform of analog for the cutoff fc, a fraction of the sample rate:
// with f = tan(pi fc) each pole or zero c becomes (1 + c f) / (1 - c f), one at infinity becomes
// -1. Pairs stay conjugate pairs, singles stay singles; the normalisation point is carried over.
void low_pass_transform(double normalized_cutoff, PoleZeroSet &digital, const PoleZeroSet &analog);

} // namespace Dsp
