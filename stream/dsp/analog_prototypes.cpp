#include "stream/dsp/analog_prototypes.h"

#include <cmath>

namespace Dsp {

namespace Butterworth {

void AnalogLowPass::design(int num_poles) {
    if (num_poles == designed_poles_) return;
    designed_poles_ = num_poles;
    clear();
    const double n = num_poles;
    for (int i = 0; i < num_poles / 2; ++i) {
        const double theta = (2 * i + 1) * kPi / (2.0 * n) + kPi / 2.0;
        add_conjugate_pairs(std::polar(1.0, theta), infinity());
    }
    if (num_poles % 2 != 0) add_single(-1.0, infinity());
    normal_frequency = 0.0;
    normal_gain = 1.0;
}

} // namespace Butterworth

namespace ChebyshevI {

void AnalogLowPass::design(int num_poles, double ripple_db) {
    if (num_poles == designed_poles_ && ripple_db == designed_ripple_db_) return;
    designed_poles_ = num_poles;
    designed_ripple_db_ = ripple_db;
    clear();
    const double n = num_poles;
    const double epsilon = std::sqrt(std::pow(10.0, ripple_db / 10.0) - 1.0);
    const double c = 1.0 / epsilon;
    const double beta = std::log(std::sqrt(c * c + 1.0) + c) / n;
    const double sinh_beta = std::sinh(beta);
    const double cosh_beta = std::cosh(beta);
    for (int i = 0; i < num_poles / 2; ++i) {
        const double a = (2 * i + 1 - num_poles) * kPi / (2.0 * n);
        add_conjugate_pairs(complex_t(-sinh_beta * std::cos(a), cosh_beta * std::sin(a)),
                            infinity());
    }
    if (num_poles % 2 != 0) {
        add_single(-sinh_beta, infinity());
        normal_gain = 1.0;
    } else {
        normal_gain = std::pow(10.0, -ripple_db / 20.0);
    }
    normal_frequency = 0.0;
}

} // namespace ChebyshevI

} // namespace Dsp
