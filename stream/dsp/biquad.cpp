#include "stream/dsp/biquad.h"

#include <cmath>

namespace Dsp {

void BiquadBase::set_coefficients(double a0, double a1, double a2, double b0, double b1,
                                  double b2) {
    a0_ = a0;
    a1_ = a1 / a0;
    a2_ = a2 / a0;
    b0_ = b0 / a0;
    b1_ = b1 / a0;
    b2_ = b2 / a0;
}

namespace {

// Linear and quadratic coefficient of (1 - r1 z^-1)(1 - r2 z^-1) for a conjugate or real pair.
void quadratic_from_roots(complex_t r1, complex_t r2, double &c1, double &c2) {
    if (r1.imag() != 0.0) {
        c1 = -2.0 * r1.real();
        c2 = std::norm(r1);
    } else {
        c1 = -(r1.real() + r2.real());
        c2 = r1.real() * r2.real();
    }
}

} // namespace

void BiquadBase::set_pole_zero_pair(const PoleZeroPair &pair) {
    if (pair.is_single()) {
        set_coefficients(1.0, -pair.pole1.real(), 0.0, -pair.zero1.real(), 1.0, 0.0);
        return;
    }
    double a1, a2, b1, b2;
    quadratic_from_roots(pair.pole1, pair.pole2, a1, a2);
    quadratic_from_roots(pair.zero1, pair.zero2, b1, b2);
    set_coefficients(1.0, a1, a2, 1.0, b1, b2);
}

void BiquadBase::apply_scale(double scale) {
    b0_ *= scale;
    b1_ *= scale;
    b2_ *= scale;
}

complex_t BiquadBase::response(double normalized_frequency) const {
    return cascade_response(this, 1, normalized_frequency);
}

complex_t cascade_response(const BiquadBase *stages, int count, double normalized_frequency) {
    const double w = 2.0 * kPi * normalized_frequency;
    const complex_t czn1 = std::polar(1.0, -w);
    const complex_t czn2 = std::polar(1.0, -2.0 * w);
    complex_t numerator = 1.0;
    complex_t denominator = 1.0;
    for (int i = 0; i < count; ++i) {
        const BiquadBase &s = stages[i];
        numerator *= s.b0() + s.b1() * czn1 + s.b2() * czn2;
        denominator *= 1.0 + s.a1() * czn1 + s.a2() * czn2;
    }
    if (denominator == 0.0 || !std::isfinite(denominator.real()) ||
        !std::isfinite(denominator.imag())) {
        const double nan = std::nan("");
        return complex_t(nan, nan);
    }
    return numerator / denominator;
}

} // namespace Dsp
