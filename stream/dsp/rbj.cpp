#include "stream/dsp/rbj.h"

#include <cmath>

namespace Dsp {
namespace RBJ {

void LowPass::design(double sample_rate, double cutoff_frequency, double q) {
    const double w0 = 2.0 * kPi * (cutoff_frequency / sample_rate);
    const double cs = std::cos(w0);
    const double alpha = std::sin(w0) / (2.0 * q);
    const double b0 = (1.0 - cs) / 2.0;
    const double b1 = 1.0 - cs;
    const double b2 = (1.0 - cs) / 2.0;
    set_coefficients(1.0 + alpha, -2.0 * cs, 1.0 - alpha, b0, b1, b2);
}

} // namespace RBJ
} // namespace Dsp
