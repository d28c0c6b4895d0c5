// State forms: their per-sample arithmetic, the denormal constant, and the agreement of every
// kernel with the plain per-sample loop.
#include "stream/dsp/dsp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

// A stage with unremarkable coefficients, so any change in operation order shows in the bits.
Dsp::RBJ::LowPass odd_stage() {
    Dsp::RBJ::LowPass s;
    s.set_coefficients(1.3, -0.7, 0.3, 0.11, 0.23, 0.17);
    return s;
}

const double kInput[] = {0.75, -1.25, 3.0, 0.1, -0.3, 2.5, 0.0, 1e-3};
constexpr int kCount = sizeof(kInput) / sizeof(kInput[0]);

template <class Form> std::vector<double> run_odd_stage() {
    Dsp::SimpleFilter<Dsp::RBJ::LowPass, 1, Form> f;
    static_cast<Dsp::RBJ::LowPass &>(f) = odd_stage();
    std::vector<double> x(kInput, kInput + kCount);
    double *channel = x.data();
    f.process(kCount, &channel);
    return x;
}

TEST(StateForms, DirectFormIArithmetic) {
    const Dsp::RBJ::LowPass s = odd_stage();
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0, d = 1e-8;
    const std::vector<double> got = run_odd_stage<Dsp::DirectFormI>();
    for (int i = 0; i < kCount; ++i) {
        d = -d;
        const double x = kInput[i];
        double y = s.b0() * x + s.b1() * x1;
        y = y + s.b2() * x2;
        y = y - s.a1() * y1;
        y = y - s.a2() * y2;
        y = y + d;
        x2 = x1, x1 = x, y2 = y1, y1 = y;
        EXPECT_EQ(got[i], y) << "sample " << i;
    }
}

TEST(StateForms, DirectFormIIArithmetic) {
    const Dsp::RBJ::LowPass s = odd_stage();
    double w1 = 0, w2 = 0, d = 1e-8;
    const std::vector<double> got = run_odd_stage<Dsp::DirectFormII>();
    for (int i = 0; i < kCount; ++i) {
        d = -d;
        double u = kInput[i] - s.a1() * w1;
        u = u - s.a2() * w2;
        u = u + d;
        double y = s.b0() * u + s.b1() * w1;
        y = y + s.b2() * w2;
        w2 = w1, w1 = u;
        EXPECT_EQ(got[i], y) << "sample " << i;
    }
}

TEST(StateForms, TransposedDirectFormIArithmetic) {
    const Dsp::RBJ::LowPass s = odd_stage();
    double s1 = 0, s2 = 0, s3 = 0, s4 = 0;
    const std::vector<double> got = run_odd_stage<Dsp::TransposedDirectFormI>();
    for (int i = 0; i < kCount; ++i) {
        const double v = kInput[i] + s1;
        const double y = s.b0() * v + s3;
        s1 = s2 - s.a1() * v;
        s2 = -s.a2() * v;
        s3 = s.b1() * v + s4;
        s4 = s.b2() * v;
        EXPECT_EQ(got[i], y) << "sample " << i;
    }
}

TEST(StateForms, TransposedDirectFormIIArithmetic) {
    const Dsp::RBJ::LowPass s = odd_stage();
    double s1 = 0, s2 = 0, d = 1e-8;
    const std::vector<double> got = run_odd_stage<Dsp::TransposedDirectFormII>();
    for (int i = 0; i < kCount; ++i) {
        d = -d;
        const double x = kInput[i];
        double y = s.b0() * x + s1;
        y = y + d;
        double n1 = s.b1() * x - s.a1() * y;
        n1 = n1 + s2;
        s2 = s.b2() * x - s.a2() * y;
        s1 = n1;
        EXPECT_EQ(got[i], y) << "sample " << i;
    }
}

TEST(StateForms, DenormalConstantEntersTheFirstStageOnly) {
    // Two stages in direct form II; the second stage sees the first's output without d.
    Dsp::SimpleFilter<Dsp::Butterworth::LowPass<4>, 1, Dsp::DirectFormII> f;
    f.design(4, 1.0, 0.15);
    std::vector<double> x(kInput, kInput + kCount);
    double *channel = x.data();
    f.process(kCount, &channel);
    double w[2][2] = {}, d = 1e-8;
    for (int i = 0; i < kCount; ++i) {
        d = -d;
        double v = kInput[i];
        for (int k = 0; k < 2; ++k) {
            const Dsp::BiquadBase &s = f.stage(k);
            double u = v - s.a1() * w[k][0];
            u = u - s.a2() * w[k][1];
            if (k == 0) u = u + d;
            v = s.b0() * u + s.b1() * w[k][0];
            v = v + s.b2() * w[k][1];
            w[k][1] = w[k][0], w[k][0] = u;
        }
        EXPECT_EQ(x[i], v) << "sample " << i;
    }
}

template <class Form>
std::vector<double> silence_through(Dsp::SimpleFilter<Dsp::Butterworth::LowPass<4>, 1, Form> &f,
                                    int count) {
    f.design(4, 1.0, 0.1);
    std::vector<double> x(count, 0.0);
    double *channel = x.data();
    f.process(count, &channel);
    return x;
}

// The constant alternates at the sample rate, where these low passes have their zeros, so the
// output settles to (near) zero; the state it keeps alive is what matters: of the order of the
// constant, alternating, never decaying into subnormal numbers.
TEST(DenormalConstant, SilenceThroughDirectFormIIKeepsTheStateAliveAndTheOutputTiny) {
    Dsp::SimpleFilter<Dsp::Butterworth::LowPass<4>, 1, Dsp::DirectFormII> f;
    const std::vector<double> y = silence_through(f, 100000);
    EXPECT_NE(y[0], 0.0);
    EXPECT_NE(y[5], 0.0);
    for (double v : y)
        ASSERT_LT(std::abs(v), 1e-8);
    const double w1 = f.channel_state(0).stage_state(0).w1;
    const double w2 = f.channel_state(0).stage_state(0).w2;
    EXPECT_GT(std::abs(w1), 1e-10);
    EXPECT_LT(std::abs(w1), 1e-7);
    EXPECT_LT(w1 * w2, 0.0);
}

TEST(DenormalConstant, SilenceThroughTransposedDirectFormIStaysExactlyZero) {
    Dsp::SimpleFilter<Dsp::Butterworth::LowPass<4>, 1, Dsp::TransposedDirectFormI> f;
    for (double v : silence_through(f, 1000))
        ASSERT_EQ(v, 0.0);
    EXPECT_EQ(f.channel_state(0).stage_state(1).s1_1, 0.0);
}

TEST(DenormalConstant, SilenceThroughOneDirectFormIStageAlternatesAtTheConstantsScale) {
    Dsp::SimpleFilter<Dsp::RBJ::LowPass, 1, Dsp::DirectFormI> f;
    f.design(1.0, 0.1, 1.0);
    std::vector<double> y(1000, 0.0);
    double *channel = y.data();
    f.process(1000, &channel);
    for (int i = 500; i < 1000; ++i) {
        ASSERT_GT(std::abs(y[i]), 1e-9) << i;
        ASSERT_LT(std::abs(y[i]), 1e-7) << i;
        ASSERT_LT(y[i] * y[i - 1], 0.0) << i;
    }
}

TEST(DenormalConstant, FlipsOncePerSampleAcrossBlocks) {
    Dsp::SimpleFilter<Dsp::Butterworth::LowPass<8>, 1, Dsp::DirectFormII> f;
    f.design(8, 1.0, 0.1);
    std::vector<double> x(1001, 0.0);
    double *channel = x.data();
    f.process(1000, &channel); // even: back to the first sign
    EXPECT_EQ(f.channel_state(0).denormal().value(), 1e-8);
    f.process(1, &channel);
    EXPECT_EQ(f.channel_state(0).denormal().value(), -1e-8);
}

// The forms differ in where the denormal constant enters, but the part of the output that
// comes from the input, out(x) - out(0), is the same transfer function in all of them.
TEST(StateForms, AllFormsAgreeOnTheResponseToTheInput) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise;
    std::vector<double> input(5000);
    for (double &v : input)
        v = noise(rng);
    auto signal_part = [&](auto filter) {
        filter.design(8, 1.0, 0.07, 0.05);
        auto silent = filter;
        std::vector<double> x = input, zero(input.size(), 0.0);
        double *cx = x.data(), *cz = zero.data();
        filter.process(static_cast<int>(x.size()), &cx);
        silent.process(static_cast<int>(zero.size()), &cz);
        for (size_t i = 0; i < x.size(); ++i)
            x[i] -= zero[i];
        return x;
    };
    using Design = Dsp::ChebyshevI::LowPass<8>;
    const auto df1 = signal_part(Dsp::SimpleFilter<Design, 1, Dsp::DirectFormI>());
    const auto df2 = signal_part(Dsp::SimpleFilter<Design, 1, Dsp::DirectFormII>());
    const auto tdf1 = signal_part(Dsp::SimpleFilter<Design, 1, Dsp::TransposedDirectFormI>());
    const auto tdf2 = signal_part(Dsp::SimpleFilter<Design, 1, Dsp::TransposedDirectFormII>());
    double largest = 0;
    for (size_t i = 0; i < input.size(); ++i) {
        largest = std::max(largest, std::abs(df1[i]));
        ASSERT_NEAR(df1[i], df2[i], 1e-11) << i;
        ASSERT_NEAR(df1[i], tdf1[i], 1e-11) << i;
        ASSERT_NEAR(df1[i], tdf2[i], 1e-11) << i;
    }
    EXPECT_GT(largest, 0.5);
}

// Input with noise, a loud stretch, silence (where the denormal constant matters) and steps.
std::vector<double> mixed_input(int count) {
    std::mt19937_64 rng(42);
    std::normal_distribution<double> noise;
    std::vector<double> x(count);
    for (int i = 0; i < count; ++i) {
        const int part = i * 5 / count;
        x[i] = part == 0   ? noise(rng)
               : part == 1 ? 1e6 * noise(rng)
               : part == 2 ? 0.0
               : part == 3 ? (i / 37 % 2 ? 1.0 : -1.0)
                           : 1e-3 * noise(rng);
    }
    return x;
}

// Cuts count samples into blocks of awkward sizes: around the vector kernel's threshold and
// pipeline length, single samples, and a long block.
std::vector<int> block_sizes(int count) {
    const int pattern[] = {1, 2, 3, 5, 7, 63, 64, 65, 66, 127, 128, 1000, 4, 6, 8, 3001};
    std::vector<int> sizes;
    for (int i = 0, done = 0; done < count; ++i) {
        const int n = std::min(pattern[i % 16], count - done);
        sizes.push_back(n);
        done += n;
    }
    return sizes;
}

template <class Form, class T>
std::vector<T> run_kernel(Dsp::Kernel kernel, const Dsp::Cascade &design,
                          const std::vector<double> &input, bool &ran) {
    std::vector<T> x(input.begin(), input.end());
    Form states[4];
    Dsp::DenormalConstant denormal;
    ran = true;
    int done = 0;
    for (int n : block_sizes(static_cast<int>(x.size()))) {
        ran = Dsp::process_cascade_with(kernel, n, x.data() + done, design.stages(),
                                        design.num_stages(), states, denormal) &&
              ran;
        done += n;
    }
    return x;
}

template <class Form, class T> void expect_kernels_match_the_plain_loop() {
    const std::vector<double> input = mixed_input(20000);
    for (int order = 1; order <= 8; ++order) {
        for (double cutoff : {0.002, 0.13, 0.45}) {
            Dsp::ChebyshevI::LowPass<8> design;
            design.design(order, 1.0, cutoff, 0.5);
            bool ran = false;
            const std::vector<T> reference =
                run_kernel<Form, T>(Dsp::Kernel::reference, design, input, ran);
            for (Dsp::Kernel kernel :
                 {Dsp::Kernel::scalar, Dsp::Kernel::lanes_avx2, Dsp::Kernel::automatic}) {
                const std::vector<T> got = run_kernel<Form, T>(kernel, design, input, ran);
                if (!ran) continue; // not built for this stage count, or no AVX2 here
                ASSERT_EQ(std::memcmp(got.data(), reference.data(), got.size() * sizeof(T)), 0)
                    << "kernel " << static_cast<int>(kernel) << " order " << order << " cutoff "
                    << cutoff;
            }
        }
    }
}

TEST(Kernels, DirectFormIMatchesThePlainLoopBitForBit) {
    expect_kernels_match_the_plain_loop<Dsp::DirectFormI, double>();
    expect_kernels_match_the_plain_loop<Dsp::DirectFormI, float>();
}

TEST(Kernels, DirectFormIIMatchesThePlainLoopBitForBit) {
    expect_kernels_match_the_plain_loop<Dsp::DirectFormII, double>();
    expect_kernels_match_the_plain_loop<Dsp::DirectFormII, float>();
}

TEST(Kernels, TransposedDirectFormIMatchesThePlainLoopBitForBit) {
    expect_kernels_match_the_plain_loop<Dsp::TransposedDirectFormI, double>();
    expect_kernels_match_the_plain_loop<Dsp::TransposedDirectFormI, float>();
}

TEST(Kernels, TransposedDirectFormIIMatchesThePlainLoopBitForBit) {
    expect_kernels_match_the_plain_loop<Dsp::TransposedDirectFormII, double>();
    expect_kernels_match_the_plain_loop<Dsp::TransposedDirectFormII, float>();
}

TEST(Kernels, VectorKernelRunsWhereTheProcessorHasAvx2) {
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
    Dsp::Butterworth::LowPass<8> design;
    design.design(8, 1.0, 0.1);
    Dsp::DirectFormII states[4];
    Dsp::DenormalConstant denormal;
    double x[100] = {};
    EXPECT_EQ(Dsp::process_cascade_with(Dsp::Kernel::lanes_avx2, 100, x, design.stages(), 4, states,
                                        denormal),
              static_cast<bool>(__builtin_cpu_supports("avx2")));
#else
    GTEST_SKIP() << "the vector kernel is built for x86 with GCC only";
#endif
}

TEST(Kernels, FloatSamplesAreFilteredInDoubleAndNarrowedOnce) {
    std::vector<double> wide = mixed_input(3000);
    std::vector<float> narrow(wide.begin(), wide.end());
    for (size_t i = 0; i < wide.size(); ++i)
        wide[i] = narrow[i];
    Dsp::SimpleFilter<Dsp::Butterworth::LowPass<6>, 1, Dsp::DirectFormII> fd, ff;
    fd.design(6, 1.0, 0.2);
    ff.design(6, 1.0, 0.2);
    double *cd = wide.data();
    float *cf = narrow.data();
    fd.process(3000, &cd);
    ff.process(3000, &cf);
    for (size_t i = 0; i < wide.size(); ++i)
        ASSERT_EQ(narrow[i], static_cast<float>(wide[i])) << i;
}

TEST(Filters, FilterDesignThroughItsInterfaceEqualsTheSimpleFilter) {
    Dsp::FilterDesign<Dsp::Butterworth::Design::LowPass<8>, 1, Dsp::TransposedDirectFormII> p;
    Dsp::Filter &filter = p;
    filter.apply_params({8.0, 1.0, 0.1});
    Dsp::SimpleFilter<Dsp::Butterworth::LowPass<8>, 1, Dsp::TransposedDirectFormII> s;
    s.design(1, 1.0, 0.1 / 8.0);
    std::vector<double> a = mixed_input(2000), b = a;
    double *ca = a.data(), *cb = b.data();
    filter.process(2000, &ca);
    s.process(2000, &cb);
    EXPECT_EQ(a, b);
    filter.reset();
    std::vector<float> fa(a.begin(), a.end()), fb = fa;
    float *cfa = fa.data(), *cfb = fb.data();
    filter.process(2000, &cfa);
    s.reset();
    s.process(2000, &cfb);
    EXPECT_EQ(fa, fb);
}

TEST(Filters, ChannelsAreFilteredIndependently) {
    Dsp::SimpleFilter<Dsp::RBJ::LowPass, 2, Dsp::DirectFormI> two;
    Dsp::SimpleFilter<Dsp::RBJ::LowPass, 1, Dsp::DirectFormI> one;
    two.design(1.0, 0.1, 1.0);
    one.design(1.0, 0.1, 1.0);
    std::vector<double> left = mixed_input(500), right(500, 0.5), alone = left;
    double *channels[2] = {left.data(), right.data()};
    double *channel = alone.data();
    two.process(500, channels);
    one.process(500, &channel);
    EXPECT_EQ(left, alone);
    EXPECT_NE(right, alone);
}

} // namespace
