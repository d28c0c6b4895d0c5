// One second-order section (biquad): its coefficients and its frequency response.
#pragma once

#include "stream/dsp/pole_zero.h"

namespace Dsp {

// Coefficients of the stage (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2).
// a1, a2, b0, b1 and b2 are kept divided by a0; a0 is kept as it was given.
class BiquadBase {
  public:
    // Stage room of a single biquad, for filters that take a design's stage count.
    static constexpr int max_stages = 1;

    double a0() const { return a0_; }
    double a1() const { return a1_; }
    double a2() const { return a2_; }
    double b0() const { return b0_; }
    double b1() const { return b1_; }
    double b2() const { return b2_; }

    // Stores a0 and the other five divided by a0.
    void set_coefficients(double a0, double a1, double a2, double b0, double b1, double b2);

    // Stage of a digital pole/zero pair (a0 = 1): a first-order section for a single.
    void set_pole_zero_pair(const PoleZeroPair &pair);

    // Multiplies the numerator by scale.
    void apply_scale(double scale);

    // Complex gain at the frequency f, a fraction of the sample rate.
    complex_t response(double normalized_frequency) const;

  private:
    double a0_ = 1.0;
    double a1_ = 0.0;
    double a2_ = 0.0;
    double b1_ = 0.0;
    double b2_ = 0.0;
    double b0_ = 1.0;
};

// Stages to run: a design's stage array and how many of them are in use.
struct StageSpan {
    const BiquadBase *stages;
    int count;
};

inline StageSpan stage_span(const BiquadBase &biquad) {
    return {&biquad, 1};
}

// Complex gain of count stages in series at the frequency f (a fraction of the sample rate).
// Numerators and denominators are multiplied up separately and divided once; a zero or
// non-finite denominator gives not-a-number in both parts.
complex_t cascade_response(const BiquadBase *stages, int count, double normalized_frequency);

} // namespace Dsp
