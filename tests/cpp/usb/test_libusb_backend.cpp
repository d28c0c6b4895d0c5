// The libusb backend on a machine without a detector, and its error mapping.
#include <gtest/gtest.h>

#include <cstring>

#include "usb/cy_device.h"
#include "usb/driver.h"
#include "usb/libusb/libusb_errors.h"
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
    EXPECT_TRUE(driver->device_paths().empty());
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

} // namespace
