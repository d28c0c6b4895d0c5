// The libusb backend on a machine without a detector, and its error mapping.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "usb/cy_device.h"
#include "usb/driver.h"
#include "usb/libusb/libusb_errors.h"
#include "usb/qualifying_devices.h"
#include "usb/system_errors.h"
#include "usb/usb_status.h"

using namespace zvusb;

namespace {

TEST(LibusbDriver, ServesThePrimaryClass) {
    Driver *driver = driver_for_class(kInterfaceClassPrimary);
    ASSERT_NE(driver, nullptr);
    EXPECT_STREQ(driver->name(), "libusb");
}

TEST(LibusbDriver, NoDetectorAttachedMeansNoPathsAndNoDevice) {
    Driver *driver = driver_for_class(kInterfaceClassPrimary);
    ASSERT_NE(driver, nullptr);
    if (!driver->device_paths().empty()) GTEST_SKIP() << "a detector is attached";
    CCyDriverDevice device(nullptr, kInterfaceClassPrimary, true);
    EXPECT_FALSE(device.is_open());
    EXPECT_EQ(device.device_count(), 0);
    EXPECT_EQ(device.endpoint_count(), 0);
    EXPECT_EQ(device.endpoint(0), nullptr);
    EXPECT_FALSE(device.open_device(0));
}

TEST(LibusbDriver, BogusPathsFailCleanly) {
    Driver *driver = driver_for_class(kInterfaceClassPrimary);
    ASSERT_NE(driver, nullptr);
    for (const char *path : {"usb:250:127", "usb:", "nonsense", ""}) {
        uint32_t error = 0;
        EXPECT_EQ(driver->open(path, &error), nullptr) << path;
        EXPECT_EQ(error, uint32_t(kErrorFileNotFound)) << path;
        EXPECT_EQ(driver->last_open_problem(), "") << path;
    }
}

TEST(LibusbErrors, MapOntoSystemErrors) {
    EXPECT_EQ(system_error_of_libusb(LIBUSB_SUCCESS), uint32_t(kErrorSuccess));
    EXPECT_EQ(system_error_of_libusb(LIBUSB_ERROR_ACCESS), uint32_t(kErrorAccessDenied));
    EXPECT_EQ(system_error_of_libusb(LIBUSB_ERROR_NO_DEVICE), uint32_t(kErrorDeviceNotConnected));
    EXPECT_EQ(system_error_of_libusb(LIBUSB_ERROR_TIMEOUT), uint32_t(kErrorSemTimeout));
    EXPECT_EQ(system_error_of_libusb(LIBUSB_ERROR_BUSY), uint32_t(kErrorBusy));
    EXPECT_EQ(system_error_of_libusb(LIBUSB_ERROR_PIPE), uint32_t(kErrorGenFailure));
    EXPECT_EQ(system_error_of_libusb(-1234), uint32_t(kErrorGenFailure));

    TransferOutcome done = outcome_of_libusb(LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(done.error, 0u);
    EXPECT_EQ(done.usb_status, 0u);
    TransferOutcome gone = outcome_of_libusb(LIBUSB_TRANSFER_NO_DEVICE);
    EXPECT_EQ(gone.error, uint32_t(kErrorDeviceNotConnected));
    EXPECT_EQ(gone.usb_status, kUsbStatusDeviceGone);
    TransferOutcome cancelled = outcome_of_libusb(LIBUSB_TRANSFER_CANCELLED);
    EXPECT_EQ(cancelled.error, uint32_t(kErrorOperationAborted));
    EXPECT_EQ(outcome_of_libusb(LIBUSB_TRANSFER_STALL).usb_status, kUsbStatusStall);
    EXPECT_NE(outcome_of_libusb(LIBUSB_TRANSFER_ERROR).usb_status, 0u);
}

TEST(UdevRule, GrantsAccessToEveryQualifyingDevice) {
    std::ifstream file(ZV_SOURCE_ROOT "/udev/60-zv-hlm25.rules");
    ASSERT_TRUE(file.good());
    std::vector<std::string> rules;
    for (std::string line; std::getline(file, line);)
        if (!line.empty() && line[0] != '#') rules.push_back(line);
    ASSERT_EQ(rules.size(), std::size(kQualifyingDevices));
    for (const QualifyingDevice &id : kQualifyingDevices) {
        char vendor[40], product[40];
        std::snprintf(vendor, sizeof vendor, "ATTR{idVendor}==\"%04x\"", id.vendor);
        std::snprintf(product, sizeof product, "ATTR{idProduct}==\"%04x\"", id.product);
        bool found = false;
        for (const std::string &rule : rules)
            found |= rule.find(vendor) != std::string::npos &&
                     rule.find(product) != std::string::npos &&
                     rule.find("SUBSYSTEM==\"usb\"") != std::string::npos &&
                     rule.find("MODE=\"0666\"") != std::string::npos;
        EXPECT_TRUE(found) << vendor << " " << product;
    }
}

} // namespace
