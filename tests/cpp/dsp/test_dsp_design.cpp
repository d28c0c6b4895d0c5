// Filter designs: coefficients, gains and the parameter interface.
#include "stream/dsp/dsp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

namespace {

double dc_gain(const Dsp::Cascade &c) {
    return std::abs(c.response(0.0));
}

TEST(ButterworthDesign, OrderFourHasTwoStagesUnitDcGainAndHalfPowerAtCutoff) {
    Dsp::Butterworth::LowPass<4> f;
    f.design(4, 1.0, 0.1);
    EXPECT_EQ(f.num_stages(), 2);
    EXPECT_NEAR(dc_gain(f), 1.0, 1e-14);
    EXPECT_NEAR(std::abs(f.response(0.1)), 1.0 / std::sqrt(2.0), 1e-12);
    EXPECT_LT(std::abs(f.response(0.4)), 1e-3);
}

TEST(ButterworthDesign, OddOrderEndsWithAFirstOrderStage) {
    Dsp::Butterworth::LowPass<8> f;
    f.design(5, 1.0, 0.2);
    ASSERT_EQ(f.num_stages(), 3);
    const Dsp::BiquadBase &last = f.stage(2);
    EXPECT_EQ(last.a2(), 0.0);
    EXPECT_EQ(last.b2(), 0.0);
    EXPECT_EQ(last.b0(), last.b1()); // zero at -1
    EXPECT_NEAR(dc_gain(f), 1.0, 1e-14);
    const auto pairs = f.pole_zeros();
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_TRUE(pairs[2].is_single());
    EXPECT_FALSE(pairs[0].is_single());
    for (const auto &p : pairs)
        EXPECT_LT(std::abs(p.pole1), 1.0); // stable
}

TEST(ButterworthDesign, RedesignKeepsTheStateAndAStateResetKeepsTheDesign) {
    Dsp::SimpleFilter<Dsp::Butterworth::LowPass<4>, 1, Dsp::DirectFormII> f;
    f.design(4, 1.0, 0.1);
    double x[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    double *channel = x;
    f.process(8, &channel);
    const double w1 = f.channel_state(0).stage_state(0).w1;
    EXPECT_NE(w1, 0.0);
    f.design(2, 1.0, 0.3);
    EXPECT_EQ(f.channel_state(0).stage_state(0).w1, w1);
    f.reset();
    EXPECT_EQ(f.channel_state(0).stage_state(0).w1, 0.0);
    EXPECT_EQ(f.channel_state(0).denormal().value(), Dsp::DenormalConstant::initial_value);
    EXPECT_EQ(f.num_stages(), 1);
}

TEST(ButterworthDesign, CopiesAreIndependent) {
    Dsp::Butterworth::LowPass<8> original;
    original.design(8, 1.0, 0.05);
    Dsp::Butterworth::LowPass<8> copy(original);
    Dsp::Butterworth::LowPass<8> assigned;
    assigned = original;
    original.design(2, 1.0, 0.3);
    for (const Dsp::Butterworth::LowPass<8> *f : {&copy, &assigned}) {
        ASSERT_EQ(f->num_stages(), 4);
        EXPECT_NE(f->stages(), original.stages());
        EXPECT_NEAR(std::abs(f->response(0.05)), 1.0 / std::sqrt(2.0), 1e-9);
    }
}

TEST(ChebyshevIDesign, EvenOrderSitsAtTheBottomOfTheRippleAtDc) {
    Dsp::ChebyshevI::LowPass<2> f;
    f.design(2, 1.0, 0.1, 0.05);
    EXPECT_EQ(f.num_stages(), 1);
    EXPECT_NEAR(dc_gain(f), std::pow(10.0, -0.0025), 1e-14);
}

TEST(ChebyshevIDesign, OddOrderHasUnitDcGain) {
    Dsp::ChebyshevI::LowPass<8> f;
    f.design(7, 1.0, 0.1, 0.5);
    EXPECT_EQ(f.num_stages(), 4);
    EXPECT_NEAR(dc_gain(f), 1.0, 1e-13);
    // The gain at the cutoff is the bottom of the ripple.
    EXPECT_NEAR(std::abs(f.response(0.1)), std::pow(10.0, -0.5 / 20.0), 1e-9);
}

TEST(ChebyshevIDesign, LowOrderInALargeObjectEqualsTheSameDesignInASmallOne) {
    Dsp::ChebyshevI::LowPass<8> large;
    Dsp::ChebyshevI::LowPass<2> small;
    large.design(8, 1.0, 0.3, 1.0); // something else first: the prototype must be redone
    large.design(2, 1.0, 0.1, 0.05);
    small.design(2, 1.0, 0.1, 0.05);
    ASSERT_EQ(large.num_stages(), 1);
    EXPECT_EQ(large.stage(0).a1(), small.stage(0).a1());
    EXPECT_EQ(large.stage(0).a2(), small.stage(0).a2());
    EXPECT_EQ(large.stage(0).b0(), small.stage(0).b0());
    EXPECT_EQ(large.stage(0).b1(), small.stage(0).b1());
    EXPECT_EQ(large.stage(0).b2(), small.stage(0).b2());
}

TEST(ChebyshevIDesign, ChangingOnlyTheRippleRedesigns) {
    Dsp::ChebyshevI::LowPass<4> f;
    f.design(4, 1.0, 0.1, 0.05);
    f.design(4, 1.0, 0.1, 3.0);
    EXPECT_NEAR(dc_gain(f), std::pow(10.0, -3.0 / 20.0), 1e-12);
}

TEST(RbjDesign, QuarterSampleRateGivesTheCookbookValues) {
    Dsp::RBJ::LowPass f;
    f.design(1.0, 0.25, 1.0);
    EXPECT_NEAR(f.a0(), 1.5, 1e-15);
    EXPECT_NEAR(f.a1(), 0.0, 1e-15);
    EXPECT_NEAR(f.a2(), 1.0 / 3.0, 1e-15);
    EXPECT_NEAR(f.b0(), 1.0 / 3.0, 1e-15);
    EXPECT_NEAR(f.b1(), 2.0 / 3.0, 1e-15);
    EXPECT_NEAR(f.b2(), 1.0 / 3.0, 1e-15);
    EXPECT_NEAR(std::abs(f.response(0.0)), 1.0, 1e-15);
}

TEST(ParameterisedDesign, OrderOneInARoomForTwoHalvesTheCutoff) {
    Dsp::FilterDesign<Dsp::Butterworth::Design::LowPass<2>, 1, Dsp::DirectFormII> f;
    f.apply_params({2.0, 1.0, 0.1});
    const auto &d = f.design();
    ASSERT_EQ(d.num_stages(), 1);
    EXPECT_EQ(d.stage(0).b0(), d.stage(0).b1());
    EXPECT_EQ(d.stage(0).b2(), 0.0);
    EXPECT_NEAR(std::abs(f.response(0.0)), 1.0, 1e-15);
    Dsp::Butterworth::LowPass<2> direct;
    direct.design(1, 1.0, 0.05);
    EXPECT_DOUBLE_EQ(d.stage(0).a1(), direct.stage(0).a1());
    EXPECT_DOUBLE_EQ(d.stage(0).b0(), direct.stage(0).b0());
}

TEST(ParameterisedDesign, DescribesItselfThroughTheFilterInterface) {
    Dsp::FilterDesign<Dsp::Butterworth::Design::LowPass<8>, 1, Dsp::DirectFormII> design;
    const Dsp::Filter &f = design;
    EXPECT_EQ(f.kind(), Dsp::Kind::low_pass);
    EXPECT_EQ(f.name(), "Butterworth Low Pass");
    EXPECT_EQ(f.param_count(), 3);
    EXPECT_EQ(f.channel_count(), 1);
    // A new filter carries the default design: order 2 at 2000 Hz of 44100 Hz.
    EXPECT_EQ(f.pole_zeros().size(), 1u);
    EXPECT_NEAR(std::abs(f.response(2000.0 / 44100.0)), 1.0 / std::sqrt(2.0), 1e-12);
}

TEST(ParameterisedDesign, ParameterTable) {
    Dsp::FilterDesign<Dsp::Butterworth::Design::LowPass<6>, 1, Dsp::DirectFormII> f;
    const Dsp::ParamInfo fs = f.param_info(0), order = f.param_info(1), fc = f.param_info(2);
    EXPECT_EQ(fs.id, Dsp::ParamId::sample_rate);
    EXPECT_STREQ(fs.label, "Fs");
    EXPECT_STREQ(fs.name, "Sample Rate");
    EXPECT_EQ(fs.min, 11025);
    EXPECT_EQ(fs.max, 192000);
    EXPECT_EQ(fs.default_value, 44100);
    EXPECT_EQ(order.id, Dsp::ParamId::order);
    EXPECT_EQ(static_cast<int>(order.id), 7);
    EXPECT_STREQ(order.label, "Order");
    EXPECT_STREQ(order.name, "Order");
    EXPECT_EQ(order.min, 1);
    EXPECT_EQ(order.max, 6);
    EXPECT_EQ(order.default_value, 2);
    EXPECT_EQ(static_cast<int>(fc.id), 1);
    EXPECT_STREQ(fc.label, "Fc");
    EXPECT_STREQ(fc.name, "Cutoff Frequency");
    EXPECT_EQ(fc.min, 10);
    EXPECT_EQ(fc.max, 22040);
    EXPECT_EQ(fc.default_value, 2000);
}

TEST(ParameterisedDesign, ControlMappingsAndText) {
    const Dsp::ParamInfo fs = Dsp::low_pass_param_info(0, 8);
    const Dsp::ParamInfo order = Dsp::low_pass_param_info(1, 8);
    const Dsp::ParamInfo fc = Dsp::low_pass_param_info(2, 8);
    EXPECT_DOUBLE_EQ(fs.to_control_value(11025), 0.0);
    EXPECT_DOUBLE_EQ(fs.to_control_value(192000), 1.0);
    EXPECT_DOUBLE_EQ(fs.to_native_value(0.5), (192000 - 11025) * 0.5 + 11025);
    EXPECT_DOUBLE_EQ(order.to_control_value(8), 1.0);
    EXPECT_EQ(order.to_native_value(0.5), 5.0); // floor(3.5 + 1 + 0.5)
    EXPECT_EQ(order.to_native_value(0.45), 4.0);
    EXPECT_NEAR(fc.to_control_value(fc.to_native_value(0.3)), 0.3, 1e-12);
    EXPECT_NEAR(fc.to_native_value(0.0), 10.0, 1e-9);
    EXPECT_NEAR(fc.to_native_value(1.0), 22040.0, 1e-7);
    const double mid = std::pow(1.5, (std::log(10.0) + std::log(22040.0)) / 2 / std::log(1.5));
    EXPECT_NEAR(fc.to_native_value(0.5), mid, 1e-9);
    EXPECT_EQ(fs.to_string(44100.9), "44100 Hz");
    EXPECT_EQ(fc.to_string(-0.5), "0 Hz");
    EXPECT_EQ(order.to_string(3.99), "3");
    EXPECT_EQ(fc.to_string(std::nan("")), "nan Hz");
}

TEST(ParameterisedDesign, BadParameterIndexThrowsLogicError) {
    Dsp::FilterDesign<Dsp::Butterworth::Design::LowPass<4>, 1, Dsp::DirectFormII> f;
    for (int index : {3, -1, 7}) {
        try {
            f.param_info(index);
            FAIL() << "index " << index << " accepted";
        } catch (const std::logic_error &e) {
            EXPECT_STREQ(e.what(), "invalid usage of ParamInfo");
        }
    }
}

TEST(ParameterisedDesign, OrderParameterIsTruncatedAndKeptInRange) {
    Dsp::FilterDesign<Dsp::Butterworth::Design::LowPass<4>, 1, Dsp::DirectFormII> f;
    const auto stages_for = [&](double order) {
        f.apply_params({1.0, order, 0.1});
        return f.design().num_stages();
    };
    EXPECT_EQ(stages_for(3.9), 2);
    EXPECT_EQ(stages_for(1e300), 2); // order 4 at most
    EXPECT_EQ(stages_for(100.0), 2);
    EXPECT_EQ(stages_for(-3.0), 0);
    EXPECT_EQ(stages_for(std::nan("")), 0);
    EXPECT_EQ(stages_for(std::numeric_limits<double>::infinity()), 2);
}

// Cutoffs outside (0, fs/2) and out-of-range orders produce what the formulas give, but never
// a crash or a write outside the filter.
TEST(BadInput, OutOfRangeDesignsStayWithinTheFilter) {
    const double nan = std::nan("");
    for (double cutoff : {0.0, 0.5, 0.7, -0.1, 1e300, nan}) {
        for (int order : {-5, 0, 1, 4, 9, 1000}) {
            Dsp::SimpleFilter<Dsp::Butterworth::LowPass<4>, 1, Dsp::DirectFormII> b;
            b.design(order, 1.0, cutoff);
            EXPECT_LE(b.num_stages(), 2);
            Dsp::SimpleFilter<Dsp::ChebyshevI::LowPass<4>, 1, Dsp::TransposedDirectFormII> c;
            c.design(order, 1.0, cutoff, 0.05);
            EXPECT_LE(c.num_stages(), 2);
            double x[200];
            for (double &v : x)
                v = 1.0;
            double *channel = x;
            b.process(200, &channel);
            c.process(200, &channel);
            (void)b.response(0.25);
            (void)c.pole_zeros();
        }
        Dsp::RBJ::LowPass r;
        r.design(1.0, cutoff, 1.0);
        (void)r.response(0.1);
    }
}

TEST(BadInput, ZeroCutoffLeavesTheDcGainUndefined) {
    Dsp::Butterworth::LowPass<2> f;
    f.design(2, 1.0, 0.0);
    // All poles at z = 1: the denominator vanishes at DC, so the response is not a number.
    const Dsp::complex_t h = f.response(0.0);
    EXPECT_TRUE(std::isnan(h.real()));
    EXPECT_TRUE(std::isnan(h.imag()));
}

TEST(BadInput, OrderZeroPassesSamplesThrough) {
    Dsp::SimpleFilter<Dsp::Butterworth::LowPass<4>, 1, Dsp::DirectFormII> f;
    f.design(0, 1.0, 0.1);
    EXPECT_EQ(f.num_stages(), 0);
    float x[3] = {1.5f, -2.0f, 3.25f};
    float *channel = x;
    f.process(3, &channel);
    EXPECT_EQ(x[0], 1.5f);
    EXPECT_EQ(x[1], -2.0f);
    EXPECT_EQ(x[2], 3.25f);
}

} // namespace
