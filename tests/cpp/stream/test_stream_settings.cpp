#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream/stream_impl.h"
#include "stream/zv_stream.h"

namespace {

template <typename T> class StreamSettings : public ::testing::Test {
  protected:
    ZVStreamImpl<T> stream{nullptr};
};
using ElementTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(StreamSettings, ElementTypes);

void expect_error(int status, int code, const char *message) {
    EXPECT_EQ(status, code);
    EXPECT_EQ(zv_get_error(), code);
    EXPECT_STREQ(zv_get_error_string(), message);
}

} // namespace

TYPED_TEST(StreamSettings, StreamWithoutDeviceStartsFromTheDefaults) {
    auto &s = this->stream;
    EXPECT_EQ(s.device(), nullptr);
    EXPECT_EQ(s.read_samplerate(), 80000000.0);
    EXPECT_EQ(s.read_calibration_wavelength(), 760.0);
    EXPECT_EQ(s.read_cutoff(), 40000000.0);
    EXPECT_EQ(s.read_samplesize(), int32_t(sizeof(TypeParam)));
    EXPECT_EQ(s.read_calibration_mode(), "auto");
    EXPECT_EQ(s.read_calibration_units(), -6);
    EXPECT_EQ(s.read_filter(), "none");
    EXPECT_EQ(s.read_downsampling(), 1);
    EXPECT_EQ(s.read_calibration().gain, 1.0);
    EXPECT_EQ(s.read_calibration().offset, 0.0);
    EXPECT_EQ(s.processor(), nullptr);
}

TYPED_TEST(StreamSettings, DownsamplingDividesTheSampleRateAndRefusesNonPositiveFactors) {
    auto &s = this->stream;
    EXPECT_EQ(s.set_downsampling(4), 0);
    EXPECT_EQ(s.read_samplerate(), 20000000.0);
    expect_error(s.set_downsampling(0), 48, "invalid downsampling factor");
    EXPECT_EQ(s.read_downsampling(), 1);
    s.set_downsampling(7);
    expect_error(s.set_downsampling(-3), 48, "invalid downsampling factor");
    EXPECT_EQ(s.read_downsampling(), 1);
}

TYPED_TEST(StreamSettings, DecimationSetsDownsamplingCutoffAndFilter) {
    auto &s = this->stream;
    EXPECT_EQ(s.set_decimation(10), 0);
    EXPECT_EQ(s.read_downsampling(), 10);
    EXPECT_EQ(s.read_cutoff(), 3200000.0);
    EXPECT_EQ(s.read_filter(), "butterworth4");
    EXPECT_EQ(s.read_samplerate(), 8000000.0);

    expect_error(s.set_decimation(-1), 48, "invalid decimation factor");
    EXPECT_EQ(s.read_downsampling(), 10);
    EXPECT_EQ(s.read_filter(), "butterworth4");

    for (int factor : {1, 0}) {
        s.set_decimation(10);
        EXPECT_EQ(s.set_decimation(factor), 0);
        EXPECT_EQ(s.read_filter(), "none");
        EXPECT_EQ(s.read_downsampling(), 1);
        EXPECT_EQ(s.read_cutoff(), 3200000.0);
    }
}

TYPED_TEST(StreamSettings, UnknownFilterIsStoredAndRefusedWhenTheRunStarts) {
    auto &s = this->stream;
    EXPECT_EQ(s.set_filter("Butterworth4"), 0);
    EXPECT_EQ(s.read_filter(), "Butterworth4");
    std::vector<TypeParam> out(4, TypeParam(-1));
    testing::internal::CaptureStdout();
    const int status = s.simulate(4, out.data(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "unimplemented filter mode Butterworth4\n");
    expect_error(status, 53, "unknown filter mode");
    EXPECT_EQ(s.processor(), nullptr);
    EXPECT_EQ(out[0], TypeParam(-1));
}

TYPED_TEST(StreamSettings, CalibrationModesNoneAndCustom) {
    auto &s = this->stream;
    EXPECT_EQ(s.set_custom_calibration(2.5, -1.0), 0);
    EXPECT_EQ(s.read_calibration_mode(), "custom");
    EXPECT_EQ(s.read_calibration().gain, 2.5);
    EXPECT_EQ(s.read_calibration().offset, -1.0);
    std::vector<TypeParam> out(100);
    ASSERT_EQ(s.simulate(out.size(), out.data(), nullptr), 0);
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], TypeParam(i) * TypeParam(2.5) - TypeParam(1));

    // The wavelength and the units do not touch custom factors; "custom" keeps them too.
    EXPECT_EQ(s.set_calibration_wavelength(900.0), 0);
    EXPECT_EQ(s.set_calibration_units(-3), 0);
    EXPECT_EQ(s.set_calibration_mode("custom"), 0);
    EXPECT_EQ(s.read_calibration().gain, 2.5);
    EXPECT_EQ(s.read_calibration_wavelength(), 900.0);

    EXPECT_EQ(s.set_calibration_mode("none"), 0);
    EXPECT_EQ(s.read_calibration().gain, 1.0);
    EXPECT_EQ(s.read_calibration().offset, 0.0);
    EXPECT_EQ(s.set_calibration_units(0), 0);
    EXPECT_EQ(s.read_calibration_units(), 0);
    EXPECT_EQ(s.read_calibration().gain, 1.0);

    // The second entry takes the library's calibration pair.
    EXPECT_EQ(s.set_custom_calibration(zv_calibration{4.0, 0.5}), 0);
    EXPECT_EQ(s.read_calibration().gain, 4.0);
    EXPECT_EQ(s.read_calibration().offset, 0.5);
}

TYPED_TEST(StreamSettings, CalibrationModeNamesAreExact) {
    auto &s = this->stream;
    s.set_custom_calibration(3.0, 1.0);
    for (const char *name : {"Auto", "auto ", "", "NONE"}) {
        expect_error(s.set_calibration_mode(name), 48, "invalid calibration mode");
        EXPECT_EQ(s.read_calibration_mode(), "custom");
        EXPECT_EQ(s.read_calibration().gain, 3.0);
    }
    expect_error(s.set_calibration_mode(static_cast<const char *>(nullptr)), 48,
                 "invalid calibration mode");
}

TYPED_TEST(StreamSettings, ReadCalibrationIsRoundedToSinglePrecision) {
    auto &s = this->stream;
    s.set_custom_calibration(0.1, 1.0 / 3.0);
    EXPECT_EQ(s.read_calibration().gain, double(0.1f));
    EXPECT_NE(s.read_calibration().gain, 0.1);
    EXPECT_EQ(s.read_calibration().offset, double(1.0f / 3.0f));
}

// Without a device there is no stored calibration: "auto" passes the codes on unchanged, in any
// unit, and reports success.
TYPED_TEST(StreamSettings, AutoWithoutDeviceGivesTheRawCodes) {
    auto &s = this->stream;
    s.set_custom_calibration(9.0, 9.0);
    EXPECT_EQ(s.set_calibration_mode("auto"), 0);
    EXPECT_EQ(s.read_calibration().gain, 1.0);
    EXPECT_EQ(s.read_calibration().offset, 0.0);
    EXPECT_EQ(s.set_calibration_units(-3), 0);
    EXPECT_EQ(s.update_auto_calibration(), 0);
    EXPECT_EQ(s.read_calibration().gain, 1.0);
}

TYPED_TEST(StreamSettings, RunsNeedASupplyAndADevice) {
    auto &s = this->stream;
    expect_error(s.run(nullptr), 48, "invalid parameters passed");
    std::vector<TypeParam> out(8);
    SimpleStreamSupply<TypeParam> supply(out.data(), nullptr, out.size());
    expect_error(s.run(&supply), 50, "invalid device");
    expect_error(s.acquire(8, out.data(), nullptr), 50, "invalid device");
    expect_error(s.acquire(8, nullptr, nullptr), 48, "invalid parameters passed");
    expect_error(s.simulate(8, nullptr, nullptr), 48, "invalid parameters passed");
    EXPECT_EQ(s.processor(), nullptr);
}

TEST(OpenStream, RefusesANullDevice) {
    EXPECT_EQ(zv_open_stream_float(nullptr), nullptr);
    expect_error(zv_get_error(), 50, "invalid device");
    EXPECT_EQ(zv_open_stream_double(nullptr), nullptr);
    expect_error(zv_get_error(), 50, "invalid device");
}
