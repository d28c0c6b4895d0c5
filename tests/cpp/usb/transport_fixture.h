// A fake device behind a real RecordDriverHandle, spied on, for tests of the endpoint objects.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "fake_backend_device.h"
#include "spy_handle.h"
#include "usb/cy_endpoint.h"
#include "usb/record_driver_handle.h"

namespace zvtest {

class TransportTest : public ::testing::Test {
  protected:
    TransportTest() : script(std::make_shared<FakeScript>()) {
        auto backend = std::make_unique<FakeBackendDevice>(script);
        fake = backend.get();
        auto record_handle = std::make_unique<zvusb::RecordDriverHandle>(std::move(backend));
        records = record_handle.get();
        spy = std::make_unique<SpyHandle>(std::move(record_handle));
    }

    static zvusb::EndpointDescriptor iso_in(uint8_t address, uint16_t packet) {
        zvusb::EndpointDescriptor d;
        d.bEndpointAddress = address;
        d.bmAttributes = 1;
        d.wMaxPacketSize = packet;
        return d;
    }

    std::shared_ptr<FakeScript> script;
    FakeBackendDevice *fake = nullptr;
    zvusb::RecordDriverHandle *records = nullptr;
    std::unique_ptr<SpyHandle> spy;
};

} // namespace zvtest
