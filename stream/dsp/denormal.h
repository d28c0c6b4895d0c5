// The constant that keeps recursive filter state away from subnormal numbers.
#pragma once

namespace Dsp {

// A tiny value whose sign flips before every sample; the first stage of a cascade adds it.
// Being far below any signal of interest and alternating, it averages out, while it keeps the
// state of a silent filter from decaying into slow subnormal arithmetic.
class DenormalConstant {
  public:
    static constexpr double initial_value = 1e-8;

    // Flips the sign and returns the value for the next sample.
    double next() {
        value_ = -value_;
        return value_;
    }

    double value() const { return value_; }
    void reset() { value_ = initial_value; }

    // Advances by count samples without using the values.
    void skip(long long count) {
        if (count % 2 != 0) value_ = -value_;
    }

  private:
    double value_ = initial_value;
};

} // namespace Dsp
