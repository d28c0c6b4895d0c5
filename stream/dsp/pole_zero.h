// Poles and zeros of analog prototypes and of their digital low-pass transforms.
#pragma once

#include <array>
#include <complex>
#include <limits>

namespace Dsp {

using complex_t = std::complex<double>;

constexpr double kPi = 3.14159265358979323846;

// Highest filter order a pole/zero set has room for.
constexpr int kMaxPoles = 16;

// Two poles and two zeros that become one second-order stage. A pair whose pole2 and zero2
// are both exactly zero is a "single": one real pole and one real zero, a first-order stage.
struct PoleZeroPair {
    complex_t pole1;
    complex_t pole2;
    complex_t zero1;
    complex_t zero2;

    bool is_single() const { return pole2 == 0.0 && zero2 == 0.0; }
};

// The poles and zeros of a filter, grouped in pairs, with the frequency (radians per sample)
// and gain at which the designed filter's gain is normalised.
struct PoleZeroSet {
    int num_poles = 0;
    std::array<PoleZeroPair, (kMaxPoles + 1) / 2> pairs{};
    double normal_frequency = 0.0;
    double normal_gain = 1.0;

    int num_pairs() const { return (num_poles + 1) / 2; }

    // Removes every pole and zero; the normalisation point is kept.
    void clear() { num_poles = 0; }

    // Adds a pole p with the zero z, meant to be real, as a single. A single ends the set.
    void add_single(complex_t p, complex_t z);

    // Adds the pole p and the zero z together with their complex conjugates.
    void add_conjugate_pairs(complex_t p, complex_t z);

    // Adds a pair as it stands (pole2 and zero2 zero for a single). A pair that does not fit,
    // or that follows a single, is dropped so the set never outgrows its storage.
    void add_pair(const PoleZeroPair &pair);
};

// The point of the complex plane that stands for a zero (or pole) at infinity.
inline complex_t infinity() {
    return complex_t(std::numeric_limits<double>::infinity(), 0.0);
}

} // namespace Dsp
