// Finding, opening and closing detectors, and the identity read at open.
#include <cstring>
#include <string>
#include <vector>

#include "sim_fixture.h"
#include "usb/driver.h"
#include "usb/system_errors.h"

namespace {

class Discovery : public SimTest {};

// Identity requests among a detector's logged requests.
int identity_reads(const zvsim::SimulatedDetector &det) {
    int n = 0;
    for (const Request &r : requests_of(det))
        if (r.in && r.request == 0x30) ++n;
    return n;
}

TEST_F(Discovery, NothingAttached) {
    EXPECT_EQ(zv_open(), nullptr);
    EXPECT_EQ(zv_get_error(), 0);
    EXPECT_EQ(error_string(), "no devices found");
    EXPECT_EQ(zv_open_serial(""), nullptr);
    EXPECT_EQ(error_string(), "no devices found");
    EXPECT_EQ(zv_list_devices(nullptr, 0), 0);
}

TEST_F(Discovery, QualifyingProductsReadTheirIdentity) {
    for (auto ids : {std::pair<uint16_t, uint16_t>{0x04B4, 0x0070}, {0x2E9D, 0x0080}}) {
        zvsim::DetectorConfig c = config("HLM25-S00042IC", {1, 2, 3});
        c.vendor = ids.first;
        c.product = ids.second;
        c.samplerate = 65000000;
        c.adcbits = 14;
        auto det = attach(c);
        zv_device *dev = open();
        ASSERT_NE(dev, nullptr) << std::hex << ids.second;
        EXPECT_EQ(zv_get_error(), 0);
        EXPECT_EQ(error_string(), "success");
        ASSERT_EQ(requests_of(*det).size(), 1u);
        EXPECT_EQ(requests_of(*det)[0].data.size(), 72u);
        EXPECT_STREQ(zv_get_serial(dev), "HLM25-S00042IC");
        EXPECT_STREQ(zv_get_product(dev), "HLM25 1550nm FC");
        EXPECT_EQ(zv_get_samplerate(dev), 65000000u);
        EXPECT_EQ(zv_get_adcbits(dev), 14);
        zv_fwversion v = zv_get_fwversion(dev);
        EXPECT_EQ((std::vector<int>{v.major, v.minor, v.patch}), (std::vector<int>{1, 2, 3}));
        close(dev);
        zvsim::detach_all();
    }
}

TEST_F(Discovery, UnprogrammedDetectorIsNotAskedForItsIdentity) {
    zvsim::DetectorConfig c = config("HLM25-D00001IC");
    c.product = 0x007F;
    auto det = attach(c);
    zv_device *dev = open();
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(identity_reads(*det), 0);
    EXPECT_STREQ(zv_get_serial(dev), "unknown");
    EXPECT_STREQ(zv_get_product(dev), "HLM25 ???nm ??");
    EXPECT_EQ(zv_get_samplerate(dev), ZV_SAMPLERATE_NOT_SET); // zero: no rate
    EXPECT_EQ(zv_get_error(), ZV_ERROR_NOT_CONFIGURED);
    EXPECT_EQ(zv_get_adcbits(dev), 0);
    EXPECT_EQ(zv_get_fwversion(dev).major, 0);
    // Every pair reads as never programmed.
    zv_calibration cal = zv_get_calibration(dev, ZV_CALIBRATION_DIGITAL_LOWGAIN);
    EXPECT_EQ(cal.gain, 1.0);
    EXPECT_EQ(cal.offset, 0.0);
    // It matches any text contained in "unknown".
    close(dev);
    EXPECT_NE(open_serial("know"), nullptr);
}

TEST_F(Discovery, NonQualifyingProductIsSkipped) {
    zvsim::DetectorConfig other = config("HLM25-S00001IC");
    other.vendor = 0x04B4;
    other.product = 0x0071;
    auto skipped = attach(other);
    auto det = attach("HLM25-S00002IC");
    zv_device *dev = open();
    ASSERT_NE(dev, nullptr);
    EXPECT_STREQ(zv_get_serial(dev), "HLM25-S00002IC");
    EXPECT_TRUE(requests_of(*skipped).empty());
    EXPECT_EQ(zv_list_devices(nullptr, 0), 1);
}

TEST_F(Discovery, FailingIdentityReadFailsTheOpen) {
    auto failing = attach("HLM25-S00001IC");
    auto good = attach("HLM25-S00002IC");
    failing->fail_request(0x30, zvsim::RequestFaults::kUntilCleared);
    long before = failing.use_count();

    // The first qualifying detector decides, although another follows.
    EXPECT_EQ(zv_open(), nullptr);
    EXPECT_EQ(zv_get_error(), 32);
    EXPECT_EQ(error_string(), "usb in request error");
    EXPECT_EQ(zv_open_serial("00002"), nullptr);
    EXPECT_EQ(zv_get_error(), 32);
    EXPECT_EQ(zv_list_devices(nullptr, 0), -1);
    EXPECT_EQ(zv_get_error(), 32);
    // No handle on the failing detector is left behind.
    EXPECT_EQ(failing.use_count(), before);
    EXPECT_TRUE(requests_of(*good).empty());
}

TEST_F(Discovery, ShortIdentityAnswerLeavesZeros) {
    auto det = attach("HLM25-S00001IC");
    // Firmware version and the first 9 serial characters only.
    std::vector<uint8_t> partial = {0, 1, 0, 2, 'H', 'L', 'M', '2', '5', '-', 'S', '0', '0'};
    det->respond(0x30, partial);
    zv_device *dev = open();
    ASSERT_NE(dev, nullptr);
    EXPECT_STREQ(zv_get_serial(dev), "HLM25-S00");
    EXPECT_EQ(zv_get_samplerate(dev), ZV_SAMPLERATE_NOT_SET); // zero: no rate
    EXPECT_EQ(zv_get_error(), ZV_ERROR_NOT_CONFIGURED);
    EXPECT_EQ(zv_get_adcbits(dev), 0);
    EXPECT_STREQ(zv_get_product(dev), "HLM25 ???nm ??");
    zv_calibration cal = zv_get_calibration(dev, ZV_CALIBRATION_DIGITAL_HIGHGAIN);
    EXPECT_EQ(cal.gain, 1.0);
}

// The serial field holds 15 characters and no terminator when all are used; the byte after it
// is the ADC bits.
TEST_F(Discovery, FullLengthSerialStaysWithinItsField) {
    zvsim::DetectorConfig c = config("HLM25-D00001ICZ");
    c.adcbits = 'Q';
    attach(c);
    zv_device *dev = open();
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(std::strlen(zv_get_serial(dev)), 15u);
    EXPECT_STREQ(zv_get_serial(dev), "HLM25-D00001ICZ");
    EXPECT_STREQ(zv_get_product(dev), "HLM25 Balanced 1550nm FC");

    zv_device_info info;
    ASSERT_EQ(zv_list_devices(&info, 1), 1);
    EXPECT_STREQ(info.serial, "HLM25-D00001ICZ");
    EXPECT_EQ(info.adcbits, 'Q');

    close(dev);
    EXPECT_NE(open_serial("ICZ"), nullptr);
    // The ADC-bits byte is not part of the serial.
    EXPECT_EQ(open_serial("ICZQ"), nullptr);
}

TEST_F(Discovery, SerialMatching) {
    auto first = attach("HLM25-S00001IC");
    auto second = attach("HLM25-D00002VL");
    long first_refs = first.use_count(), second_refs = second.use_count();

    zv_device *dev = open_serial("00002");
    ASSERT_NE(dev, nullptr);
    EXPECT_STREQ(zv_get_serial(dev), "HLM25-D00002VL");
    EXPECT_EQ(zv_get_error(), 0);
    // The candidate that did not match was read and let go.
    EXPECT_EQ(identity_reads(*first), 1);
    EXPECT_EQ(first.use_count(), first_refs);
    close(dev);

    dev = open_serial("");
    ASSERT_NE(dev, nullptr);
    EXPECT_STREQ(zv_get_serial(dev), "HLM25-S00001IC");
    close(dev);

    // Plain, case-sensitive byte comparison.
    EXPECT_EQ(open_serial("hlm25"), nullptr);
    EXPECT_EQ(open_serial("no such serial"), nullptr);
    EXPECT_EQ(zv_get_error(), 0);
    EXPECT_EQ(error_string(), "no devices found");
    EXPECT_EQ(first.use_count(), first_refs);
    EXPECT_EQ(second.use_count(), second_refs);
}

TEST_F(Discovery, ProductNames) {
    struct Case {
        const char *serial;
        const char *product;
    };
    for (Case c :
         {Case{"HLM25-D00001IC", "HLM25 Balanced 1550nm FC"},
          Case{"HLM25-S00001VL", "HLM25 760nm FL"}, Case{"HLM25-S00001NF", "HLM25 900nm FS"},
          Case{"HLM25-D00001XY", "HLM25 Balanced ???nm ??"}, Case{"HLM25-S0", "HLM25 ???nm ??"}}) {
        attach(c.serial);
        zv_device *dev = open();
        ASSERT_NE(dev, nullptr);
        EXPECT_STREQ(zv_get_product(dev), c.product) << c.serial;
        close(dev);
        zvsim::detach_all();
    }
}

TEST_F(Discovery, ListDevicesSummarisesWithoutKeepingAnyOpen) {
    zvsim::DetectorConfig c = config("HLM25-S00001IC", {1, 0, 1});
    c.samplerate = 1000000;
    auto a = attach(c);
    zvsim::DetectorConfig u = config("ignored");
    u.product = 0x007F;
    auto b = attach(u);
    long a_refs = a.use_count(), b_refs = b.use_count();

    zv_device_info infos[4];
    std::memset(infos, 0xAA, sizeof(infos));
    ASSERT_EQ(zv_list_devices(infos, 4), 2);
    EXPECT_STREQ(infos[0].serial, "HLM25-S00001IC");
    EXPECT_STREQ(infos[0].product, "HLM25 1550nm FC");
    EXPECT_EQ(infos[0].samplerate, 1000000u);
    EXPECT_EQ(infos[0].fw_patch, 1);
    EXPECT_STREQ(infos[1].serial, "unknown");
    EXPECT_EQ(a.use_count(), a_refs);
    EXPECT_EQ(b.use_count(), b_refs);

    // A short array gets what fits; the count says how many there are.
    std::memset(infos, 0xAA, sizeof(infos));
    EXPECT_EQ(zv_list_devices(infos, 1), 2);
    EXPECT_STREQ(infos[0].serial, "HLM25-S00001IC");
    EXPECT_EQ(infos[1].serial[0], char(0xAA));

    EXPECT_EQ(zv_list_devices(nullptr, 1), -1);
    EXPECT_EQ(zv_get_error(), 48);
}

TEST_F(Discovery, CloseReleasesTheHandle) {
    auto det = attach("HLM25-S00001IC");
    long refs = det.use_count();
    zv_device *dev = zv_open();
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(det.use_count(), refs + 1);
    zv_close(dev);
    EXPECT_EQ(det.use_count(), refs);
    zv_close(nullptr);
}

TEST_F(Discovery, UsbSpeed) {
    zvsim::DetectorConfig c = config("HLM25-S00001IC");
    c.speed = zvsim::Speed::high;
    attach(c);
    zv_device *dev = open();
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(zv_get_usb_speed(dev), 3);
    close(dev);
    zvsim::detach_all();
    attach("HLM25-S00001IC");
    dev = open();
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(zv_get_usb_speed(dev), 4);
}

TEST_F(Discovery, AccessorsResetOrKeepTheErrorState) {
    attach("HLM25-S00001IC");
    zv_device *dev = open();
    ASSERT_NE(dev, nullptr);
    zv_port_read(dev, ZV_PORT_t(9)); // stores 48
    zv_get_serial(dev);
    zv_get_usb_speed(dev);
    EXPECT_EQ(zv_get_error(), 48);
    zv_get_samplerate(dev);
    EXPECT_EQ(zv_get_error(), 0);
    EXPECT_EQ(error_string(), "success");
}

TEST(DiscoveryNullHandle, EveryAccessorReportsInvalidDevice) {
    auto expect_invalid = [] {
        EXPECT_EQ(zv_get_error(), 50);
        EXPECT_STREQ(zv_get_error_string(), "invalid device");
    };
    EXPECT_EQ(zv_get_serial(nullptr), nullptr);
    expect_invalid();
    EXPECT_EQ(zv_get_product(nullptr), nullptr);
    expect_invalid();
    EXPECT_EQ(zv_get_samplerate(nullptr), 0xFFFFFFFFu);
    expect_invalid();
    EXPECT_EQ(zv_get_adcbits(nullptr), 255);
    expect_invalid();
    zv_fwversion v = zv_get_fwversion(nullptr);
    EXPECT_EQ(v.major + v.minor + v.patch, 0);
    expect_invalid();
    EXPECT_EQ(zv_get_usb_speed(nullptr), -1);
    expect_invalid();
}

// A driver for the first interface class whose one device cannot be opened, as when the user
// lacks permission for a real detector.
class DeniedDriver : public zvusb::Driver {
  public:
    const char *name() const override { return "denied"; }
    std::vector<std::string> device_paths() override { return {"denied:0"}; }
    std::unique_ptr<zvusb::DriverHandle> open(const std::string &, uint32_t *error) override {
        ++opens;
        if (error) *error = zvusb::kErrorAccessDenied;
        return nullptr;
    }
    // The library prints a problem once however often it enumerates, so each driver explains
    // with words of its own: a test repeated in one process sees its own explanation printed.
    std::string last_open_problem() const override { return problem; }
    int opens = 0;
    const std::string problem =
        "add yourself to group plugdev (denied driver " + std::to_string(++instances) + ")";
    static inline int instances = 0;
};

TEST_F(Discovery, DeviceThatCannotBeOpenedIsSkippedAndExplainedOnce) {
    zvusb::Driver *real = zvusb::driver_for_class(zvusb::kInterfaceClassPrimary);
    DeniedDriver denied;
    zvusb::register_driver(zvusb::kInterfaceClassPrimary, &denied);
    attach("HLM25-S00001IC");

    testing::internal::CaptureStderr();
    zv_device *dev = open();
    zv_device *second = open_serial("");
    std::string printed = testing::internal::GetCapturedStderr();
    zvusb::register_driver(zvusb::kInterfaceClassPrimary, real);

    ASSERT_NE(dev, nullptr);
    EXPECT_STREQ(zv_get_serial(dev), "HLM25-S00001IC");
    // The one detector is held by the first open: refused, without opening it again.
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(zv_get_error(), ZV_ERROR_DEVICE_OPEN);
    EXPECT_GE(denied.opens, 2);
    size_t first = printed.find(denied.problem);
    ASSERT_NE(first, std::string::npos) << printed;
    EXPECT_EQ(printed.find(denied.problem, first + 1), std::string::npos) << printed;
}

} // namespace
