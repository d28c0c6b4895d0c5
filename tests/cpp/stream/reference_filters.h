// Straightforward reference low passes for checking the stream's filter modes, written from the
// textbook formulas: analog prototype poles, bilinear transform with prewarping, one biquad per
// conjugate pair, unit (or ripple-bottom) gain at DC, and the per-sample arithmetic of the four
// state forms with the alternating 1e-8 that keeps the state away from subnormal numbers.
#pragma once

#include <cmath>
#include <complex>
#include <vector>

namespace reference {

using complex = std::complex<double>;

struct Biquad {
    double a1, a2, b0, b1, b2;
};

enum class Form { direct_I, direct_II, transposed_I, transposed_II };

// Stages of the digital low pass from analog poles (zeros all at infinity) at cutoff w, a
// fraction of the sample rate, scaled to dc_gain at DC. single_pole: the real pole of an odd
// order, or 0 when there is none.
inline std::vector<Biquad> from_analog(const std::vector<complex> &pair_poles, double single_pole,
                                       double w, double dc_gain) {
    const double f = std::tan(M_PI * w);
    auto to_digital = [f](complex c) { return (1.0 + c * f) / (1.0 - c * f); };
    std::vector<Biquad> stages;
    for (complex p : pair_poles) {
        const complex z = to_digital(p);
        // Zeros at -1, -1: numerator 1 + 2 z^-1 + z^-2.
        stages.push_back({-2.0 * z.real(), std::norm(z), 1.0, 2.0, 1.0});
    }
    if (single_pole != 0.0) {
        const double z = to_digital(single_pole).real();
        stages.push_back({-z, 0.0, 1.0, 1.0, 0.0});
    }
    double gain = 1.0;
    for (const Biquad &s : stages)
        gain *= (s.b0 + s.b1 + s.b2) / (1.0 + s.a1 + s.a2);
    const double scale = dc_gain / std::fabs(gain);
    stages[0].b0 *= scale;
    stages[0].b1 *= scale;
    stages[0].b2 *= scale;
    return stages;
}

inline std::vector<Biquad> butterworth(int order, double w) {
    std::vector<complex> poles;
    for (int i = 0; i < order / 2; ++i)
        poles.push_back(std::polar(1.0, (2 * i + 1) * M_PI / (2 * order) + M_PI / 2));
    return from_analog(poles, order % 2 ? -1.0 : 0.0, w, 1.0);
}

inline std::vector<Biquad> chebyshev_i(int order, double w, double ripple_db) {
    const double epsilon = std::sqrt(std::pow(10.0, ripple_db / 10) - 1);
    const double beta = std::asinh(1 / epsilon) / order;
    std::vector<complex> poles;
    for (int i = 0; i < order / 2; ++i) {
        const double a = (2 * i + 1 - order) * M_PI / (2 * order);
        poles.push_back({-std::sinh(beta) * std::cos(a), std::cosh(beta) * std::sin(a)});
    }
    const double dc_gain = order % 2 ? 1.0 : std::pow(10.0, -ripple_db / 20);
    return from_analog(poles, order % 2 ? -std::sinh(beta) : 0.0, w, dc_gain);
}

inline std::vector<Biquad> rbj_low_pass(double w, double q) {
    const double w0 = 2 * M_PI * w;
    const double alpha = std::sin(w0) / (2 * q);
    const double a0 = 1 + alpha;
    const double c = std::cos(w0);
    return {{-2 * c / a0, (1 - alpha) / a0, (1 - c) / 2 / a0, (1 - c) / a0, (1 - c) / 2 / a0}};
}

// A cascade run sample by sample; designing it again keeps its state.
class Filter {
  public:
    Filter(std::vector<Biquad> stages, Form form)
        : stages_(std::move(stages)), form_(form), state_(stages_.size()) {}

    void redesign(std::vector<Biquad> stages) { stages_ = std::move(stages); }

    double step(double x) {
        denormal_ = -denormal_;
        double v = x;
        for (size_t k = 0; k < stages_.size(); ++k)
            v = stage(stages_[k], state_[k], v, k == 0 ? denormal_ : 0.0);
        return v;
    }

  private:
    struct State {
        double s1 = 0, s2 = 0, s3 = 0, s4 = 0;
    };

    double stage(const Biquad &c, State &s, double v, double d) const {
        switch (form_) {
        case Form::direct_I: { // s1 = x1, s2 = x2, s3 = y1, s4 = y2
            const double y = c.b0 * v + c.b1 * s.s1 + c.b2 * s.s2 - c.a1 * s.s3 - c.a2 * s.s4 + d;
            s.s2 = s.s1;
            s.s1 = v;
            s.s4 = s.s3;
            s.s3 = y;
            return y;
        }
        case Form::direct_II: { // s1 = w1, s2 = w2
            const double u = v - c.a1 * s.s1 - c.a2 * s.s2 + d;
            const double y = c.b0 * u + c.b1 * s.s1 + c.b2 * s.s2;
            s.s2 = s.s1;
            s.s1 = u;
            return y;
        }
        case Form::transposed_I: { // poles on w first, zeros on it after; no denormal
            const double w = v + s.s1;
            const double y = c.b0 * w + s.s3;
            s.s1 = s.s2 - c.a1 * w;
            s.s2 = -c.a2 * w;
            s.s3 = c.b1 * w + s.s4;
            s.s4 = c.b2 * w;
            return y;
        }
        case Form::transposed_II: {
            const double y = c.b0 * v + s.s1 + d;
            s.s1 = c.b1 * v - c.a1 * y + s.s2;
            s.s2 = c.b2 * v - c.a2 * y;
            return y;
        }
        }
        return v;
    }

    std::vector<Biquad> stages_;
    Form form_;
    std::vector<State> state_;
    double denormal_ = 1e-8;
};

// Runs the cascade over x.
inline std::vector<double> filter(const std::vector<Biquad> &stages, Form form,
                                  const std::vector<double> &x) {
    Filter f(stages, form);
    std::vector<double> y(x.size());
    for (size_t n = 0; n < x.size(); ++n)
        y[n] = f.step(x[n]);
    return y;
}

} // namespace reference
