// Streams on the simulated detector: settings read from the device, acquisition through the
// engine, the device's own calibration.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "sim_stream_fixture.h"
#include "stream/zv_stream.h"

namespace {

using ElementTypes = ::testing::Types<float, double>;
template <typename T> class DeviceStream : public SimStream<T> {};
TYPED_TEST_SUITE(DeviceStream, ElementTypes);

} // namespace

TYPED_TEST(DeviceStream, ReadsSampleRateAndPeakWavelengthFromTheDevice) {
    zvsim::DetectorConfig config;
    config.samplerate = 50000000;
    config.serial = "HLM25-S00001NC"; // photodiode code 'N': peak 900 nm
    this->open(config);
    EXPECT_EQ(zv_get_error(), 0);
    EXPECT_EQ(this->stream->device(), this->dev);
    EXPECT_EQ(this->stream->read_samplerate(), 50000000.0);
    EXPECT_EQ(this->stream->read_cutoff(), 25000000.0);
    EXPECT_EQ(this->stream->read_calibration_wavelength(), 900.0);
}

TYPED_TEST(DeviceStream, UnknownPhotodiodeStillGivesAStream) {
    zvsim::DetectorConfig config;
    config.serial = "HLM25-S00001XC";
    this->open(config);
    EXPECT_EQ(zv_get_error(), 52);
    EXPECT_EQ(this->stream->read_calibration_wavelength(), -1.0);
}

TYPED_TEST(DeviceStream, AcquiresConsecutiveSamplesWithTheirPortLevels) {
    this->open_numbered();
    auto &s = *this->stream;
    ASSERT_EQ(s.set_calibration_mode("none"), 0);
    // Several supply blocks (131072) and many packets.
    const size_t n = 300001;
    std::vector<TypeParam> out(n + 1, TypeParam(-1));
    std::vector<uint8_t> flags(n + 1, 0xEE);
    ASSERT_EQ(s.acquire(n, out.data(), flags.data()), 0) << zv_get_error_string();
    const uint64_t first = static_cast<uint64_t>(out[0]);
    for (size_t i = 0; i < n; ++i) {
        const uint64_t position = (first + i) % kWordLoop;
        ASSERT_EQ(out[i], TypeParam(position)) << i;
        ASSERT_EQ(flags[i], position % 4) << i;
    }
    EXPECT_EQ(out[n], TypeParam(-1));
    EXPECT_EQ(flags[n], 0xEE);
}

TYPED_TEST(DeviceStream, DownsampledAcquisitionKeepsOneInN) {
    this->open_numbered();
    auto &s = *this->stream;
    s.set_calibration_mode("none");
    ASSERT_EQ(s.set_downsampling(7), 0);
    std::vector<TypeParam> out(50000);
    ASSERT_EQ(s.acquire(out.size(), out.data(), nullptr), 0);
    const uint64_t first = static_cast<uint64_t>(out[0]);
    for (size_t j = 0; j < out.size(); ++j)
        ASSERT_EQ(out[j], TypeParam((first + 7 * j) % kWordLoop)) << j;
}

TYPED_TEST(DeviceStream, ZeroSamplesEndTheRunAtTheFirstBlock) {
    this->open_numbered();
    TypeParam sentinel = TypeParam(-1);
    EXPECT_EQ(this->stream->acquire(0, &sentinel, nullptr), 0);
    EXPECT_EQ(sentinel, TypeParam(-1));
}

// "auto" follows the gain setting, the wavelength and the units.
TYPED_TEST(DeviceStream, AutoUsesTheDevicesCalibration) {
    zvsim::DetectorConfig config;
    config.calibrations[0] = {2.0f, 0.5f};  // digital high gain
    config.calibrations[1] = {3.0f, -1.0f}; // digital low gain
    config.samples = numbered_words_with_ports();
    this->open(config);
    auto &s = *this->stream;
    ASSERT_EQ(zv_set_highgain(this->dev, true), 0);
    EXPECT_EQ(s.read_calibration().gain, 1.0); // not read before it is needed
    ASSERT_EQ(s.update_auto_calibration(), 0);
    EXPECT_EQ(s.read_calibration().gain, 2.0);
    EXPECT_EQ(s.read_calibration().offset, 0.5);

    ASSERT_EQ(zv_set_highgain(this->dev, false), 0);
    std::vector<TypeParam> out(1000);
    ASSERT_EQ(s.acquire(out.size(), out.data(), nullptr), 0); // the run re-reads the gain
    EXPECT_EQ(s.read_calibration().gain, 3.0);
    const uint64_t first = static_cast<uint64_t>((out[0] + 1) / 3);
    for (size_t i = 0; i < out.size(); ++i) {
        const TypeParam code = TypeParam((first + i) % kWordLoop);
        ASSERT_EQ(out[i], code * TypeParam(3) - TypeParam(1)) << i;
    }

    // Units: the pair divided by 1000 (milliwatts) or 10^6 (watts).
    ASSERT_EQ(s.set_calibration_units(-3), 0);
    EXPECT_EQ(s.read_calibration().gain, double(float(TypeParam(3.0 * TypeParam(0.001)))));
    EXPECT_EQ(s.read_calibration().offset, double(float(TypeParam(-1.0 * TypeParam(0.001)))));
    ASSERT_EQ(s.set_calibration_units(0), 0);
    EXPECT_EQ(s.read_calibration().gain, double(float(TypeParam(3.0 * TypeParam(1e-6)))));
    ASSERT_EQ(s.set_calibration_units(-6), 0);
    EXPECT_EQ(s.read_calibration().gain, 3.0);
}

// A wavelength outside the photodiode's curve has no calibration: the error is reported (not
// silently turned into all-zero output) and the factors stay.
TYPED_TEST(DeviceStream, AutoOutsideTheResponsivityCurveFails) {
    zvsim::DetectorConfig config;
    config.calibrations[1] = {3.0f, -1.0f};
    this->open(config);
    auto &s = *this->stream;
    ASSERT_EQ(s.update_auto_calibration(), 0);
    EXPECT_EQ(s.set_calibration_wavelength(2000.0), 48);
    EXPECT_STREQ(zv_get_error_string(), "wavelength out of range");
    // Refused, so not kept: the peak wavelength stays in force and the stream still runs.
    EXPECT_EQ(s.read_calibration_wavelength(), 1550.0);
    EXPECT_EQ(s.read_calibration().gain, 3.0);
    std::vector<TypeParam> out(10, TypeParam(-1));
    EXPECT_EQ(s.acquire(out.size(), out.data(), nullptr), 0);
    // Other modes do not need the device's calibration: there the wavelength is kept unchecked,
    // and "auto" then refuses to start from it.
    ASSERT_EQ(s.set_calibration_mode("none"), 0);
    EXPECT_EQ(s.set_calibration_wavelength(2000.0), 0);
    EXPECT_EQ(s.set_calibration_mode("auto"), 48);
    EXPECT_EQ(s.read_calibration_mode(), "none");
    EXPECT_EQ(s.acquire(out.size(), out.data(), nullptr), 0);
}

// A supply that hands out an unusable block ends the run with an error, not a success.
TYPED_TEST(DeviceStream, UnusableSupplyBlockFailsTheRun) {
    this->open_numbered();
    struct NullBlock : ZVStreamSupply<TypeParam> {
        TypeParam *next_block(int32_t &count) override {
            count = 64;
            return nullptr;
        }
        uint8_t *flag_block(int32_t) override { return nullptr; }
        int32_t advance(int32_t, int32_t) override { return 1; }
    } supply;
    testing::internal::CaptureStdout();
    const int status = this->stream->run(&supply);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "outbuffer n less than 0\n");
    EXPECT_EQ(status, 48);
    EXPECT_STREQ(zv_get_error_string(), "invalid parameters passed");
}

TYPED_TEST(DeviceStream, RunFillsACustomSupplyToTheEnd) {
    this->open_numbered();
    auto &s = *this->stream;
    s.set_calibration_mode("none");
    std::vector<TypeParam> out(40000);
    SimpleStreamSupply<TypeParam> supply(out.data(), nullptr, out.size(), 0, 1000);
    ASSERT_EQ(s.run(&supply), 0);
    EXPECT_EQ(supply.position(), out.size());
    const uint64_t first = static_cast<uint64_t>(out[0]);
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], TypeParam((first + i) % kWordLoop)) << i;
}

TYPED_TEST(DeviceStream, UnpluggedDeviceFailsTheAcquisition) {
    this->open_numbered();
    auto &s = *this->stream;
    this->detector->detach();
    std::vector<TypeParam> out(1000);
    // "auto" cannot read the gain setting any more.
    EXPECT_EQ(s.acquire(out.size(), out.data(), nullptr), -1);
    EXPECT_STREQ(zv_get_error_string(), "unable to read gain mode");
    s.set_calibration_mode("none");
    testing::internal::CaptureStdout();
    const int status = s.acquire(out.size(), out.data(), nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 32);
}
