#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "stream/simple_fir_processor.h"
#include "stream/stream_impl.h"
#include "stream_test_support.h"

namespace {

template <typename T> class Fir : public ::testing::Test {
  protected:
    Fir() {
        stream.set_filter("fir");
        stream.set_custom_calibration(0.37, 5.0);
    }
    // Calibrated ramp sample i, as the stream computes it.
    static T x(size_t i) { return static_cast<T>(i & 0x3FFF) * T(0.37) + T(5.0); }
    // Mean of the last taps samples up to i (zeros before the run), summed in long double.
    static long double mean(size_t i, size_t taps) {
        long double sum = 0;
        for (size_t j = 0; j < taps; ++j)
            if (i >= j) sum += x(i - j);
        return sum / taps;
    }
    ZVStreamImpl<T> stream{nullptr};
};
using ElementTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(Fir, ElementTypes);

} // namespace

TEST(FirTapCount, IsTheRatioTruncatedAndAtLeastOne) {
    uint64_t taps = 0;
    EXPECT_EQ(fir_tap_count(80e6, 1e6, taps), 0);
    EXPECT_EQ(taps, 80u);
    EXPECT_EQ(fir_tap_count(80e6, 3e6, taps), 0);
    EXPECT_EQ(taps, 26u);
    for (double cutoff : {-1e6, 1e9, std::numeric_limits<double>::infinity(), -0.0}) {
        EXPECT_EQ(fir_tap_count(80e6, cutoff, taps), 0) << cutoff;
        EXPECT_EQ(taps, 1u) << cutoff;
    }
}

TEST(FirTapCount, RefusesCutoffsWithoutAUsableLength) {
    uint64_t taps = 7;
    EXPECT_EQ(fir_tap_count(80e6, 0.0, taps), 49);
    EXPECT_STREQ(zv_get_error_string(), "could not allocate memory");
    EXPECT_EQ(fir_tap_count(80e6, 1e-12, taps), 49);
    EXPECT_EQ(fir_tap_count(80e6, std::nan(""), taps), 48);
    EXPECT_STREQ(zv_get_error_string(), "invalid parameters passed");
    EXPECT_EQ(taps, 7u);
}

// Cutoff 1 MHz at 80 MHz: an 80-tap running mean; the first output is x[0] / 80.
TYPED_TEST(Fir, IsARunningMeanOfTheLastTapsSamples) {
    auto &s = this->stream;
    s.set_cutoff(1e6);
    const size_t n = 50000;
    std::vector<TypeParam> out(n);
    ASSERT_EQ(s.simulate(n, out.data(), nullptr), 0);
    EXPECT_NEAR(out[0], double(this->x(0)) / 80.0,
                std::numeric_limits<TypeParam>::epsilon() * double(this->x(0)) / 80.0);
    // Within the rounding of the output type (a few units in the last place of the mean).
    const double tolerance = 4 * std::numeric_limits<TypeParam>::epsilon();
    for (size_t i = 0; i < n; ++i) {
        const double expected = double(this->mean(i, 80));
        ASSERT_NEAR(out[i], expected, tolerance * std::max(1.0, std::fabs(expected))) << i;
    }
}

// With downsampling the processor computes only the kept outputs, and they are bit for bit
// the running mean the full-rate stream gives at those positions.
TYPED_TEST(Fir, DownsampledOutputsEqualTheFullRateMeanAtTheKeptPositions) {
    auto &s = this->stream;
    s.set_cutoff(80e6 / 333);
    const size_t n = 30000;
    std::vector<TypeParam> full(n);
    ASSERT_EQ(s.simulate(n, full.data(), nullptr), 0);
    for (int32_t step : {2, 5, 64, 7000}) {
        s.set_downsampling(step);
        std::vector<TypeParam> kept(n / step);
        ASSERT_EQ(s.simulate(kept.size(), kept.data(), nullptr), 0);
        for (size_t j = 0; j < kept.size(); ++j)
            ASSERT_EQ(kept[j], full[j * step]) << "step " << step << " index " << j;
    }
}

TYPED_TEST(Fir, WritesOnlyTheKeptPositions) {
    ProcessingState<TypeParam> state;
    state.downsampling = 4;
    state.phase = 3;
    auto fir = SimpleFIRProcessor<TypeParam>::create(state, 10);
    ASSERT_TRUE(fir);
    const std::vector<uint16_t> words = ramp_words(20, 1);
    std::vector<TypeParam> out(20, TypeParam(-7));
    fir->process(20, words.data(), out.data());
    for (size_t k = 0; k < out.size(); ++k) {
        if (k % 4 == 3) {
            double sum = 0;
            for (size_t j = (k >= 9 ? k - 9 : 0); j <= k; ++j)
                sum += words[j];
            EXPECT_EQ(out[k], TypeParam(sum / 10)) << k;
        } else {
            EXPECT_EQ(out[k], TypeParam(-7)) << k;
        }
    }
}

// A long double-precision run with an inexact scale: the sum does not drift.
TEST(FirLongRun, StaysOnTheExactMean) {
    ZVStreamImpl<double> s(nullptr);
    s.set_filter("fir");
    s.set_custom_calibration(0.1, -0.05);
    s.set_cutoff(80e6 / 1000);
    const size_t n = 3000000;
    std::vector<double> out(n);
    ASSERT_EQ(s.simulate(n, out.data(), nullptr), 0);
    for (size_t i = n - 5000; i < n; ++i) {
        long double sum = 0;
        for (size_t j = 0; j < 1000; ++j)
            sum += static_cast<double>((i - j) & 0x3FFF) * 0.1 + -0.05;
        ASSERT_NEAR(out[i], double(sum / 1000), 4e-16 * double(sum / 1000)) << i;
    }
}

TYPED_TEST(Fir, CutoffsWithoutAUsableTapCountFailTheRun) {
    auto &s = this->stream;
    std::vector<TypeParam> out(16, TypeParam(-1));
    struct Case {
        double cutoff;
        int code;
    };
    // 0: an endless window; 1e-3 Hz: 8e10 taps, more than any allocation here; NaN.
    for (Case c : {Case{0.0, 49}, Case{1e-3, 49}, Case{std::nan(""), 48}}) {
        s.set_cutoff(c.cutoff);
        EXPECT_EQ(s.simulate(out.size(), out.data(), nullptr), c.code) << c.cutoff;
        EXPECT_EQ(zv_get_error(), c.code);
        EXPECT_EQ(s.processor(), nullptr);
        EXPECT_EQ(out[0], TypeParam(-1));
    }
    // A negative cutoff means one tap: the samples themselves.
    s.set_cutoff(-5.0);
    ASSERT_EQ(s.simulate(out.size(), out.data(), nullptr), 0);
    for (size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i], this->x(i));
}
