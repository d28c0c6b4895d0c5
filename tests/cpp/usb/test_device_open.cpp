// Opening a device through CCyDriverDevice: descriptors, strings, driver data, the endpoint list
// and alternate settings, and the refusal of malformed descriptor tables.
#include <gtest/gtest.h>

#include "descriptor_builder.h"
#include "device_fixture.h"
#include "usb/cy_device.h"
#include "usb/system_errors.h"

using namespace zvusb;
using namespace zvtest;

namespace {

class DeviceOpenTest : public FakeDriverTest {
  protected:
    // Opens index 0 and returns what was written to standard error meanwhile.
    std::string open_capturing(CCyDriverDevice &device, bool *opened) {
        ::testing::internal::CaptureStderr();
        *opened = device.open_device(0);
        return ::testing::internal::GetCapturedStderr();
    }
};

TEST_F(DeviceOpenTest, GoodDetectorOpensWithItsIdentityAndAlternateSettingZero) {
    auto script = detector_script();
    driver.add("fake:1", script);
    CCyDriverDevice device(nullptr, kTestClass, true);
    ASSERT_TRUE(device.is_open());
    EXPECT_EQ(device.devices, 1);
    EXPECT_EQ(device.device_index, 0);
    EXPECT_EQ(device.vendor_id(), 0x2E9D);
    EXPECT_EQ(device.product_id(), 0x0080);
    EXPECT_EQ(device.language, 0x0409) << "0x0409 wins although listed second";
    EXPECT_EQ(device.manufacturer, u"Zv Instruments");
    EXPECT_EQ(device.product, u"HLM25");
    EXPECT_EQ(device.serial_number, u"A1B2C3");
    EXPECT_TRUE(device.high_speed);
    EXPECT_FALSE(device.super_speed);
    EXPECT_EQ(device.address, 7);
    EXPECT_EQ(device.friendly_name, "fake detector");
    EXPECT_FALSE(device.bos.present) << "no BOS request below USB 3";
    EXPECT_EQ(script->descriptors.count(0x0F00), 0u);
    ASSERT_EQ(device.configurations.size(), 1u);
    EXPECT_EQ(device.alt_setting, 0);
    EXPECT_EQ(device.endpoint_count(), 1);
    ASSERT_NE(device.control_endpoint(), nullptr);
    EXPECT_EQ(device.endpoint(0), device.control_endpoint());
    EXPECT_EQ(device.control_endpoint()->max_packet_size, 64);
    EXPECT_EQ(device.endpoint(1), nullptr);
    // Every descriptor request was a standard GET_DESCRIPTOR from the device.
    for (const ControlSetup &s : script->controls) {
        EXPECT_EQ(s.bmRequestType, 0x80);
        EXPECT_EQ(s.bRequest, 6);
    }
}

TEST_F(DeviceOpenTest, AlternateSettingsSwitchTheEndpointList) {
    auto script = detector_script();
    driver.add("fake:1", script);
    CCyDriverDevice device(nullptr, kTestClass, true);
    ASSERT_TRUE(device.is_open());

    ASSERT_TRUE(device.set_alt_setting(1));
    EXPECT_EQ(script->alt_requests, std::vector<uint8_t>{1});
    EXPECT_EQ(device.alt_setting, 1);
    ASSERT_EQ(device.endpoint_count(), 2);
    CCyUSBEndPoint *ep = device.endpoint(1);
    ASSERT_NE(dynamic_cast<CCyIsocEndPoint *>(ep), nullptr);
    EXPECT_EQ(ep->address, 0x83);
    EXPECT_EQ(ep->attributes, 1);
    EXPECT_EQ(ep->max_packet_size, 1024);
    EXPECT_TRUE(ep->direction_in);
    EXPECT_EQ(ep->transfer_mode, kXferDirect);
    EXPECT_EQ(ep->timeout_ms, 10000u);

    EXPECT_TRUE(device.set_alt_setting(1)) << "already selected";
    EXPECT_EQ(script->alt_requests.size(), 1u);
    EXPECT_FALSE(device.set_alt_setting(4)) << "not in the configuration";
    EXPECT_EQ(device.endpoint_count(), 2);

    ASSERT_TRUE(device.set_alt_setting(0));
    EXPECT_EQ(device.endpoint_count(), 1);
}

TEST_F(DeviceOpenTest, OpenFollowsTheSettingTheDriverReports) {
    auto script = detector_script();
    script->alt = 1;
    driver.add("fake:1", script);
    CCyDriverDevice device(nullptr, kTestClass, true);
    ASSERT_TRUE(device.is_open());
    EXPECT_EQ(device.alt_setting, 1);
    EXPECT_EQ(device.endpoint_count(), 2);
}

TEST_F(DeviceOpenTest, FirstLanguageServesWhenUsEnglishIsMissing) {
    auto script = detector_script();
    script->descriptors[0x0300] = language_descriptor({0x0407, 0x040C});
    driver.add("fake:1", script);
    CCyDriverDevice device(nullptr, kTestClass, true);
    ASSERT_TRUE(device.is_open());
    EXPECT_EQ(device.language, 0x0407);
    EXPECT_EQ(script->controls.back().wIndex, 0) << "configuration requests carry no language";
}

TEST_F(DeviceOpenTest, DeviceWithoutStringsStillOpens) {
    auto script = detector_script();
    script->descriptors.erase(0x0300);
    script->descriptors[0x0302] = Bytes{2, 3}; // empty string: not kept
    driver.add("fake:1", script);
    CCyDriverDevice device(nullptr, kTestClass, true);
    ASSERT_TRUE(device.is_open());
    EXPECT_EQ(device.language, 0);
    EXPECT_TRUE(device.product.empty());
}

TEST_F(DeviceOpenTest, SuperSpeedDetectorReadsBosAndCompanions) {
    auto script = detector_script(0x0320);
    script->speed = 4;
    script->descriptors[0x0100] = device_descriptor(0x0320, 0x2E9D, 0x0080, 9);
    script->descriptors[0x0F00] = BosBuilder().usb20_extension(2).superspeed(0x0E).build();
    script->descriptors[0x0200] = ConfigBuilder()
                                      .interface(0, 0, 0)
                                      .interface(0, 1, 1)
                                      .endpoint(0x83, 1, 1024)
                                      .companion(3, 1, 8192)
                                      .build();
    driver.add("fake:1", script);
    CCyDriverDevice device(nullptr, kTestClass, true);
    ASSERT_TRUE(device.is_open());
    EXPECT_TRUE(device.super_speed);
    EXPECT_FALSE(device.high_speed);
    EXPECT_TRUE(device.bos.present);
    EXPECT_TRUE(device.bos.superspeed_capability);
    EXPECT_EQ(device.control_endpoint()->max_packet_size, 512) << "2 to the 9th";
    ASSERT_TRUE(device.set_alt_setting(1));
    EXPECT_EQ(device.endpoint(1)->max_packet_size, 1024 * 4 * 2);
    EXPECT_EQ(device.endpoint(1)->ss_max_burst, 3);
    EXPECT_EQ(device.endpoint(1)->bytes_per_interval, 8192);
}

TEST_F(DeviceOpenTest, MalformedTablesFailTheOpenWithTheirReport) {
    const std::string configuration_report =
        "Wrong Device Configuration: Please correct firmware descriptor table\n";
    const std::string bos_report =
        "Wrong BOS Descriptor: Please correct firmware BOS descriptor table\n";
    Bytes good = detector_configuration();
    Bytes truncated = good;
    truncated[2] = uint8_t(good.size() + 4); // announces more than the device sends
    ConfigBuilder many_interfaces, many_endpoints;
    for (int i = 0; i < 256; ++i)
        many_interfaces.interface(0, uint8_t(i), 0);
    many_endpoints.interface(0, 0, 33);
    for (int i = 0; i < 33; ++i)
        many_endpoints.endpoint(uint8_t(0x81 + i % 15), 2, 512);
    Bytes bos_bad = BosBuilder().usb20_extension(2).superspeed(0x0E).build();
    bos_bad[4] = 5;
    Bytes device_bad = device_descriptor(0x0200, 0x2E9D, 0x0080);
    device_bad[0] = 17;

    struct Case {
        const char *what;
        uint16_t bcd_usb;
        uint16_t key;
        Bytes bytes;
        std::string report;
    } cases[] = {
        {"truncated configuration", 0x0200, 0x0200, truncated, configuration_report},
        {"256 interfaces", 0x0200, 0x0200, many_interfaces.build(), configuration_report},
        {"33 endpoints", 0x0200, 0x0200, many_endpoints.build(), configuration_report},
        {"BOS that does not add up", 0x0300, 0x0F00, bos_bad, bos_report},
        {"device descriptor of 17 bytes", 0x0200, 0x0100, device_bad, configuration_report},
    };
    for (const Case &c : cases) {
        auto script = detector_script(c.bcd_usb);
        if (c.bcd_usb >= 0x0300)
            script->descriptors[0x0F00] = BosBuilder().usb20_extension(2).build();
        script->descriptors[c.key] = c.bytes;
        driver.devices.clear();
        driver.add("fake:1", script);
        CCyDriverDevice device(nullptr, kTestClass, false);
        bool opened = true;
        std::string err = open_capturing(device, &opened);
        EXPECT_FALSE(opened) << c.what;
        EXPECT_EQ(err, c.report) << c.what;
        EXPECT_FALSE(device.is_open()) << c.what;
        EXPECT_EQ(device.endpoint_count(), 0) << c.what;
        EXPECT_EQ(device.vendor_id(), 0) << c.what;
        EXPECT_TRUE(device.configurations.empty()) << c.what;
        EXPECT_TRUE(script->destroyed) << c.what << ": the handle is closed";
    }
}

TEST_F(DeviceOpenTest, ConfigurationWithoutInterfacesFailsQuietly) {
    auto script = detector_script();
    script->descriptors[0x0200] = ConfigBuilder().build();
    driver.add("fake:1", script);
    CCyDriverDevice device(nullptr, kTestClass, false);
    bool opened = true;
    EXPECT_EQ(open_capturing(device, &opened), "");
    EXPECT_FALSE(opened);
    EXPECT_FALSE(device.is_open());
}

TEST_F(DeviceOpenTest, DeviceThatStallsItsDescriptorFailsWithoutReport) {
    auto script = detector_script();
    script->descriptors.erase(0x0100);
    driver.add("fake:1", script);
    CCyDriverDevice device(nullptr, kTestClass, false);
    bool opened = true;
    EXPECT_EQ(open_capturing(device, &opened), "");
    EXPECT_FALSE(opened);
    EXPECT_EQ(device.last_error, uint32_t(kErrorGenFailure));
}

TEST_F(DeviceOpenTest, IndexBeyondTheCountAndUnknownClassFail) {
    driver.add("fake:1", detector_script());
    CCyDriverDevice device(nullptr, kTestClass, false);
    EXPECT_EQ(device.device_count(), 1);
    EXPECT_FALSE(device.open_device(1));
    EXPECT_EQ(device.last_error, uint32_t(kErrorNoMoreItems));
    EXPECT_TRUE(device.open_device(0));

    const Guid nobody = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    CCyDriverDevice other(nullptr, nobody, true);
    EXPECT_FALSE(other.is_open());
    EXPECT_EQ(other.device_count(), 0);
}

TEST_F(DeviceOpenTest, RefusedOpenKeepsTheDriversExplanation) {
    driver.add("fake:1", detector_script());
    driver.open_error = kErrorAccessDenied;
    driver.problem = "permission denied opening the detector at fake bus: install the rule";
    CCyDriverDevice device(nullptr, kTestClass, false);
    bool opened = true;
    EXPECT_EQ(open_capturing(device, &opened), "")
        << "the library tells the user, not the transport";
    EXPECT_FALSE(opened);
    EXPECT_EQ(device.last_error, uint32_t(kErrorAccessDenied));
    EXPECT_EQ(device.open_problem, driver.problem);
    driver.open_error = 0;
    EXPECT_TRUE(device.open_device(0));
    EXPECT_EQ(device.open_problem, "") << "a successful open clears it";
}

TEST_F(DeviceOpenTest, ClosingForgetsEverythingAndReopeningWorks) {
    auto script = detector_script();
    driver.add("fake:1", script);
    CCyDriverDevice device(nullptr, kTestClass, true);
    ASSERT_TRUE(device.set_alt_setting(1));
    device.close_device();
    EXPECT_TRUE(script->destroyed);
    EXPECT_FALSE(device.is_open());
    EXPECT_EQ(device.endpoint_count(), 0);
    EXPECT_EQ(device.endpoint(0), nullptr);
    EXPECT_EQ(device.vendor_id(), 0);
    EXPECT_TRUE(device.serial_number.empty());
    EXPECT_TRUE(device.configurations.empty());
    EXPECT_FALSE(device.set_alt_setting(1));
    EXPECT_TRUE(device.open_device(0));
    EXPECT_EQ(device.alt_setting, 1) << "the device kept its setting";
}

} // namespace
