// Stored calibrations by type and model, and the photodiode responsivity curves.
#include <cmath>
#include <limits>
#include <vector>

#include "sim_fixture.h"

namespace {

// Distinct stored pairs: pair i = (i + 1.5, -(i + 0.25)).
zvsim::DetectorConfig with_pairs(const std::string &serial) {
    zvsim::DetectorConfig c;
    c.serial = serial;
    for (int i = 0; i < 6; ++i)
        c.calibrations[i] = {float(i + 1.5), float(-(i + 0.25))};
    return c;
}

void expect_pair(zv_calibration cal, int pair) {
    EXPECT_EQ(cal.gain, pair + 1.5) << "pair " << pair;
    EXPECT_EQ(cal.offset, -(pair + 0.25)) << "pair " << pair;
}

void expect_failed(zv_calibration cal, int code, const char *message) {
    EXPECT_EQ(cal.gain, 0.0);
    EXPECT_EQ(cal.offset, 0.0);
    EXPECT_EQ(zv_get_error(), code);
    EXPECT_STREQ(zv_get_error_string(), message);
}

class Calibration : public SimTest {
  protected:
    zv_device *open_unit(const std::string &serial) {
        det = attach(with_pairs(serial));
        return open_clean(det);
    }
    std::shared_ptr<zvsim::SimulatedDetector> det;
};

TEST_F(Calibration, SingleEndedTypes) {
    zv_device *dev = open_unit("HLM25-S00001IC");
    for (int type = 0; type < 4; ++type)
        expect_pair(zv_get_calibration(dev, ZV_CALIBRATION_TYPE_t(type)), type);
    EXPECT_TRUE(requests_of(*det).empty());
    for (int type = 5; type <= 11; ++type)
        expect_failed(zv_get_calibration(dev, ZV_CALIBRATION_TYPE_t(type)), 48,
                      "unsupported calibration type");
    expect_failed(zv_get_calibration(dev, ZV_CALIBRATION_TYPE_t(-1)), 48,
                  "unsupported calibration type");
}

TEST_F(Calibration, AutomaticTypeFollowsTheGainOnSingleEndedUnits) {
    zv_device *dev = open_unit("HLM25-S00001IC");
    ASSERT_EQ(zv_set_highgain(dev, true), 0);
    det->clear_requests();
    expect_pair(zv_get_calibration(dev, ZV_CALIBRATION_DIGITAL_AUTO), 0);
    EXPECT_EQ(requests_of(*det), (std::vector<Request>{{true, 0xCD, 0, 0, {1}}}));
    ASSERT_EQ(zv_set_highgain(dev, false), 0);
    expect_pair(zv_get_calibration(dev, ZV_CALIBRATION_DIGITAL_AUTO), 1);

    det->fail_request(0xCD);
    expect_failed(zv_get_calibration(dev, ZV_CALIBRATION_DIGITAL_AUTO), -1,
                  "unable to read gain mode");
    det->respond(0xCD, {0x80});
    expect_failed(zv_get_calibration(dev, ZV_CALIBRATION_DIGITAL_AUTO), -1,
                  "unable to read gain mode");
}

TEST_F(Calibration, BalancedTypes) {
    zv_device *dev = open_unit("HLM25-D00001IC");
    expect_pair(zv_get_calibration(dev, ZV_CALIBRATION_DIGITAL_AUTO), 0);
    EXPECT_TRUE(requests_of(*det).empty()); // no gain read on a balanced unit
    expect_pair(zv_get_calibration(dev, ZV_CALIBRATION_BALANCED_DIGITAL), 0);
    expect_pair(zv_get_calibration(dev, ZV_CALIBRATION_BALANCED_ANALOG), 2);
    expect_pair(zv_get_calibration(dev, ZV_CALIBRATION_P1_DIGITAL), 1);
    expect_pair(zv_get_calibration(dev, ZV_CALIBRATION_P1_ANALOG), 3);
    expect_pair(zv_get_calibration(dev, ZV_CALIBRATION_P2_DIGITAL), 4);
    expect_pair(zv_get_calibration(dev, ZV_CALIBRATION_P2_ANALOG), 5);
    for (int type = 0; type < 4; ++type)
        expect_failed(zv_get_calibration(dev, ZV_CALIBRATION_TYPE_t(type)), 48,
                      "unsupported calibration type");
}

TEST_F(Calibration, UnprogrammedPairIsTheIdentityMap) {
    zvsim::DetectorConfig c = with_pairs("HLM25-S00001IC");
    c.calibrations[1] = {0.0f, 0.0f};
    c.calibrations[2] = {0.0f, 0.5f};
    attach(c);
    zv_device *dev = open();
    zv_get_calibration(nullptr, ZV_CALIBRATION_DIGITAL_LOWGAIN);
    zv_calibration cal = zv_get_calibration(dev, ZV_CALIBRATION_DIGITAL_LOWGAIN);
    EXPECT_EQ(cal.gain, 1.0);
    EXPECT_EQ(cal.offset, 0.0);
    EXPECT_EQ(zv_get_error(), 0); // reset at the start
    cal = zv_get_calibration(dev, ZV_CALIBRATION_ANALOG_HIGHGAIN);
    EXPECT_EQ(cal.gain, 0.0);
    EXPECT_EQ(cal.offset, 0.5);
}

TEST_F(Calibration, NullHandle) {
    expect_failed(zv_get_calibration(nullptr, ZV_CALIBRATION_DIGITAL_AUTO), 50, "invalid device");
    expect_failed(zv_get_rel_calibration(nullptr, ZV_CALIBRATION_DIGITAL_AUTO, 1550), 50,
                  "invalid device");
    EXPECT_EQ(zv_get_rel_responsivity(nullptr, 1550), std::numeric_limits<double>::infinity());
    EXPECT_EQ(zv_get_error(), 50);
    EXPECT_EQ(zv_get_peak_responsivity(nullptr), -1);
    EXPECT_EQ(zv_get_error(), 50);
}

TEST_F(Calibration, RelativeCalibration) {
    zv_device *dev = open_unit("HLM25-S00001IC");
    expect_pair(zv_get_rel_calibration(dev, ZV_CALIBRATION_ANALOG_LOWGAIN, 1550.0), 3);
    expect_failed(zv_get_rel_calibration(dev, ZV_CALIBRATION_ANALOG_LOWGAIN, 2000.0), 48,
                  "wavelength out of range");
    expect_failed(zv_get_rel_calibration(dev, ZV_CALIBRATION_ANALOG_LOWGAIN, std::nan("")), 48,
                  "wavelength out of range");
    expect_failed(zv_get_rel_calibration(dev, ZV_CALIBRATION_BALANCED_ANALOG, 1550.0), 48,
                  "unsupported calibration type");

    // Divided by the responsivity rounded to single precision.
    double r = zv_get_rel_responsivity(dev, 1300.0);
    ASSERT_GT(r, 0.0);
    ASSERT_NE(double(float(r)), r);
    zv_calibration cal = zv_get_rel_calibration(dev, ZV_CALIBRATION_DIGITAL_HIGHGAIN, 1300.0);
    EXPECT_EQ(cal.gain, 1.5 / double(float(r)));
    EXPECT_EQ(cal.offset, -0.25 / double(float(r)));
}

TEST_F(Calibration, UnknownPhotodiode) {
    zv_device *dev = open_unit("HLM25-S00001XC");
    EXPECT_EQ(zv_get_rel_responsivity(dev, 1550), std::numeric_limits<double>::infinity());
    EXPECT_EQ(zv_get_error(), 52);
    EXPECT_STREQ(zv_get_error_string(),
                 "settings stored on the device are not configured correctly");
    EXPECT_EQ(zv_get_peak_responsivity(dev), -1);
    EXPECT_EQ(zv_get_error(), 52);
    expect_failed(zv_get_rel_calibration(dev, ZV_CALIBRATION_DIGITAL_HIGHGAIN, 1550), 52,
                  "settings stored on the device are not configured correctly");
    // The plain calibration does not depend on the photodiode.
    expect_pair(zv_get_calibration(dev, ZV_CALIBRATION_DIGITAL_HIGHGAIN), 0);
}

// The published curves, evaluated independently: Horner's rule in extended precision.
struct Curve {
    double from, to;
    std::vector<long double> c;
};
const std::vector<Curve> kInGaAs = {
    {900,
     1130,
     {4.48121574262e-13L, -2.66365071267e-09L, 6.29382649657e-06L, -0.00739573512297L,
      4.32592370305L, -1007.84958217L}},
    {1130,
     1600,
     {-5.09141056237e-14L, 3.44519553726e-10L, -9.29015537557e-07L, 0.00124657642209L,
      -0.830987745379L, 220.608499441L}},
    {1600,
     1662.3,
     {-2.90627318776e-11L, 2.3137828183e-07L, -0.000736802781366L, 1.17308693535L, -933.807512026L,
      297318.767962L}},
    {1662.3,
     1700,
     {3.25734210186e-16L, -1.79833322567e-12L, 2.22758450781e-09L, 3.33591989148e-06L,
      -0.0055697313368L, -10.7072300801L, 24277.1067482L, -12412289.6104L}}};
const std::vector<Curve> kVisible = {
    {400,
     1000,
     {-2.64188075215e-19L, 1.34660489246e-15L, -2.76515698417e-12L, 2.97453553526e-09L,
      -1.82795781178e-06L, 0.000650613391592L, -0.124099728835L, 9.8999334189L}}};
const std::vector<Curve> kNearInfrared = {
    {400,
     1070,
     {3.94247533e-21L, -2.05953226e-17L, 4.58402581e-14L, -5.67407466e-11L, 4.26972617e-08L,
      -2.00015765e-05L, 0.00570170307L, -0.90458475L, 61.2439072L}}};

// Value and the size of the largest term (the cancellation the double evaluation suffers).
std::pair<long double, long double> oracle(const std::vector<Curve> &curve, double nm) {
    for (const Curve &seg : curve) {
        if (nm < seg.from || nm >= seg.to) continue;
        long double v = 0, largest = 0, x = nm;
        for (long double c : seg.c)
            v = v * x + c;
        for (size_t k = 0; k < seg.c.size(); ++k)
            largest = std::max(largest, std::fabs(seg.c[k] * std::pow(x, seg.c.size() - 1 - k)));
        return {v, largest};
    }
    return {0, 0};
}

void expect_matches_curve(zv_device *dev, const std::vector<Curve> &curve, double nm) {
    auto [expected, largest] = oracle(curve, nm);
    double got = zv_get_rel_responsivity(dev, nm);
    EXPECT_NEAR(got, double(expected), double(largest) * 4e-16 + 1e-15) << nm << " nm";
}

TEST_F(Calibration, InGaAsCurve) {
    zv_device *dev = open_unit("HLM25-S00001IC");
    EXPECT_EQ(zv_get_peak_responsivity(dev), 1550);
    EXPECT_EQ(zv_get_rel_responsivity(dev, 1550.0), 1.0);
    EXPECT_EQ(zv_get_rel_responsivity(dev, 899.9), 0.0);
    EXPECT_EQ(zv_get_rel_responsivity(dev, 1700.0), 0.0);
    EXPECT_EQ(zv_get_rel_responsivity(dev, -5.0), 0.0);
    EXPECT_EQ(zv_get_rel_responsivity(dev, std::numeric_limits<double>::infinity()), 0.0);
    for (double nm : {900.0, 1000.0, 1129.999, 1130.0, 1549.99, 1550.01, 1599.9, 1600.0, 1662.2,
                      1662.3, 1690.0, 1699.999})
        expect_matches_curve(dev, kInGaAs, nm);
    // Next to the peak the curve is close to 1, and the pieces join where they meet.
    EXPECT_NEAR(zv_get_rel_responsivity(dev, 1549.999), 1.0, 0.01);
    for (double edge : {1130.0, 1600.0, 1662.3})
        EXPECT_NEAR(zv_get_rel_responsivity(dev, edge),
                    zv_get_rel_responsivity(dev, std::nextafter(edge, 0.0)), 0.02)
            << edge;
}

TEST_F(Calibration, VisibleAndNearInfraredCurves) {
    zv_device *visible = open_unit("HLM25-S00001VC");
    EXPECT_EQ(zv_get_peak_responsivity(visible), 760);
    EXPECT_EQ(zv_get_rel_responsivity(visible, 760.0), 1.0);
    EXPECT_NEAR(zv_get_rel_responsivity(visible, 759.99), 1.0, 0.01);
    EXPECT_EQ(zv_get_rel_responsivity(visible, 399.99), 0.0);
    EXPECT_EQ(zv_get_rel_responsivity(visible, 1000.0), 0.0);
    for (double nm : {400.0, 550.0, 900.0, 999.99})
        expect_matches_curve(visible, kVisible, nm);
    close(visible);
    zvsim::detach_all();

    zv_device *nir = open_unit("HLM25-S00001NC");
    EXPECT_EQ(zv_get_peak_responsivity(nir), 900);
    EXPECT_EQ(zv_get_rel_responsivity(nir, 900.0), 1.0);
    EXPECT_NEAR(zv_get_rel_responsivity(nir, 899.99), 1.0, 0.01);
    EXPECT_EQ(zv_get_rel_responsivity(nir, 1070.0), 0.0);
    for (double nm : {400.0, 650.5, 1069.99})
        expect_matches_curve(nir, kNearInfrared, nm);
}

} // namespace
