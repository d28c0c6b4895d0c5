// Every filter mode of a stream against the reference designs, the equivalences between modes,
// decimation, and the mode table itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "reference_filters.h"
#include "stream/dsp/dsp.h"
#include "stream/filter_modes.h"
#include "stream/stream_impl.h"

namespace {

using reference::Form;

constexpr double kSamplerate = 80e6;
constexpr double kCutoff = 4e6; // 0.05 of the sample rate
constexpr double kScale = 0.5;
constexpr double kOffset = -100.0;

template <typename T> class FilterModes : public ::testing::Test {
  protected:
    FilterModes() { stream.set_custom_calibration(kScale, kOffset); }

    // The mode's output over the simulated ramp.
    std::vector<T> run(const std::string &mode, size_t n, double cutoff = kCutoff) {
        stream.set_filter(mode);
        stream.set_cutoff(cutoff);
        std::vector<T> out(n);
        EXPECT_EQ(stream.simulate(n, out.data(), nullptr), 0) << mode;
        return out;
    }

    // The calibrated ramp the filters see, in T as the stream computes it.
    static std::vector<double> input(size_t n) {
        std::vector<double> x(n);
        for (size_t i = 0; i < n; ++i)
            x[i] = static_cast<T>(i & 0x3FFF) * static_cast<T>(kScale) + static_cast<T>(kOffset);
        return x;
    }

    // Both agree to the rounding of T (double: far below any design difference that matters).
    static void expect_close(const std::vector<T> &out, const std::vector<double> &expected,
                             const std::string &mode) {
        ASSERT_EQ(out.size(), expected.size());
        const double relative = std::is_same_v<T, float> ? 3e-7 : 1e-11;
        for (size_t i = 0; i < out.size(); ++i)
            ASSERT_NEAR(out[i], expected[i], relative * std::max(1.0, std::fabs(expected[i])))
                << mode << " sample " << i;
    }

    ZVStreamImpl<T> stream{nullptr};
};
using ElementTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(FilterModes, ElementTypes);

struct DesignedMode {
    const char *name;
    std::vector<reference::Biquad> stages;
    Form form;
};

std::vector<DesignedMode> designed_modes() {
    const double w = kCutoff / kSamplerate;
    using reference::butterworth;
    using reference::chebyshev_i;
    return {
        {"badbutter2", butterworth(1, w / 2), Form::direct_II},
        {"badbutter4", butterworth(1, w / 4), Form::direct_II},
        {"badbutter8", butterworth(1, w / 8), Form::direct_II},
        {"butterdfI2", butterworth(2, w), Form::direct_I},
        {"butterdfII2", butterworth(2, w), Form::direct_II},
        {"buttertdfI2", butterworth(2, w), Form::transposed_I},
        {"buttertdfII2", butterworth(2, w), Form::transposed_II},
        {"butterworth2", butterworth(2, w), Form::direct_II},
        {"butterworth4", butterworth(4, w), Form::direct_II},
        {"butterworth6", butterworth(6, w), Form::direct_II},
        {"butterworth8", butterworth(8, w), Form::direct_II},
        {"rbj", reference::rbj_low_pass(w, 1.0), Form::direct_II},
        {"chebyI2", chebyshev_i(2, w, 0.05), Form::direct_II},
        {"chebyI4", chebyshev_i(4, w, 0.05), Form::direct_II},
        {"chebyI6", chebyshev_i(6, w, 0.05), Form::direct_II},
        {"chebyI8", chebyshev_i(8, w, 0.05), Form::direct_II},
        {"chebyImax8but2", chebyshev_i(2, w, 0.05), Form::direct_II},
        {"chebyImax8but4", chebyshev_i(4, w, 0.05), Form::direct_II},
        {"chebyImax8but6", chebyshev_i(6, w, 0.05), Form::direct_II},
    };
}

template <typename T> bool same_bits(const std::vector<T> &a, const std::vector<T> &b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

} // namespace

TEST(FilterModeTable, HoldsEveryModeOnce) {
    const std::vector<std::string> expected = {
        "none",         "badbutter2",     "badbutter4",     "badbutter8",
        "butterdfI2",   "butterdfII2",    "buttertdfI2",    "buttertdfII2",
        "butterworth2", "butterworth4",   "butterworth6",   "butterworth8",
        "rbj",          "chebyI2",        "chebyI4",        "chebyI6",
        "chebyI8",      "chebyImax8but2", "chebyImax8but4", "chebyImax8but6",
        "fir"};
    EXPECT_EQ(filter_mode_names(), expected);
}

// 40,000 samples: the ramp's steps and slopes over more than two of its periods, in raw blocks
// of 5120 and supply blocks of 131072 (state carried across blocks).
TYPED_TEST(FilterModes, EachDesignedModeMatchesItsReference) {
    const size_t n = 40000;
    const std::vector<double> x = this->input(n);
    for (const DesignedMode &mode : designed_modes()) {
        const std::vector<double> expected = reference::filter(mode.stages, mode.form, x);
        this->expect_close(this->run(mode.name, n), expected, mode.name);
    }
}

TYPED_TEST(FilterModes, ButterworthDirectFormIIUnderBothNamesIsTheSame) {
    EXPECT_TRUE(same_bits(this->run("butterdfII2", 20000), this->run("butterworth2", 20000)));
}

TYPED_TEST(FilterModes, ChebyshevOfLowerOrderInRoomForEightIsTheSame) {
    EXPECT_TRUE(same_bits(this->run("chebyImax8but2", 20000), this->run("chebyI2", 20000)));
    EXPECT_TRUE(same_bits(this->run("chebyImax8but4", 20000), this->run("chebyI4", 20000)));
    EXPECT_TRUE(same_bits(this->run("chebyImax8but6", 20000), this->run("chebyI6", 20000)));
}

// "badbutter2" at fc / fs = 0.1 is the first-order Butterworth low pass at 0.05, the same
// filter the Dsp design gives when asked for order 1 directly.
TYPED_TEST(FilterModes, BadButterIsAFirstOrderLowPassAtAFractionOfTheCutoff) {
    const size_t n = 20000;
    const std::vector<TypeParam> out = this->run("badbutter2", n, 0.1 * kSamplerate);
    Dsp::SimpleFilter<Dsp::Butterworth::LowPass<2>, 1, Dsp::DirectFormII> direct;
    direct.design(1, 1.0, 0.05);
    const std::vector<double> x = this->input(n);
    std::vector<TypeParam> expected(x.begin(), x.end());
    TypeParam *channels[1] = {expected.data()};
    direct.process(static_cast<int>(n), channels);
    EXPECT_TRUE(same_bits(out, expected));
    this->expect_close(out, reference::filter(reference::butterworth(1, 0.05), Form::direct_II, x),
                       "badbutter2");
}

// Decimation by 10: butterworth4 at 0.04 of the raw rate over every raw sample, one in ten kept.
TYPED_TEST(FilterModes, DecimationFiltersAtFullRateAndKeepsOneInN) {
    auto &s = this->stream;
    ASSERT_EQ(s.set_decimation(10), 0);
    const size_t n = 5000;
    std::vector<TypeParam> out(n);
    ASSERT_EQ(s.simulate(n, out.data(), nullptr), 0);
    const std::vector<double> full =
        reference::filter(reference::butterworth(4, 0.04), Form::direct_II, this->input(10 * n));
    std::vector<double> kept(n);
    for (size_t j = 0; j < n; ++j)
        kept[j] = full[10 * j];
    this->expect_close(out, kept, "decimation 10");
}

// Downsampling picks from the full-rate filter output, whatever the block boundaries.
TYPED_TEST(FilterModes, DownsamplingPicksFromTheFullRateOutput) {
    const size_t n = 30000;
    const std::vector<TypeParam> full = this->run("chebyI6", n);
    this->stream.set_downsampling(3);
    const std::vector<TypeParam> kept = this->run("chebyI6", n / 3);
    for (size_t j = 0; j < kept.size(); ++j)
        ASSERT_EQ(kept[j], full[3 * j]) << j;
}
