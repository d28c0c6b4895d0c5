// Registers a fake driver for the test interface class for the duration of a test.
#pragma once

#include <gtest/gtest.h>

#include "fake_backend_device.h"
#include "usb/driver.h"

namespace zvtest {

class FakeDriverTest : public ::testing::Test {
  protected:
    void SetUp() override { zvusb::register_driver(kTestClass, &driver); }
    void TearDown() override { zvusb::register_driver(kTestClass, nullptr); }
    FakeDriver driver;
};

} // namespace zvtest
