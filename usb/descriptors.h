// Parsed USB descriptors of one device: the device descriptor kept whole, configuration trees
// (interfaces with their endpoints) and the capabilities of a BOS descriptor.
#pragma once

#include <cstdint>
#include <vector>

#include "usb/cy_endpoint.h"

namespace zvusb {

struct InterfaceDescriptor {
    uint8_t bInterfaceNumber = 0;
    uint8_t bAlternateSetting = 0;
    uint8_t bNumEndpoints = 0;
    uint8_t bInterfaceClass = 0;
    uint8_t bInterfaceSubClass = 0;
    uint8_t bInterfaceProtocol = 0;
    uint8_t iInterface = 0;
    std::vector<EndpointDescriptor> endpoints;
};

struct ConfigurationDescriptor {
    uint8_t bConfigurationValue = 0;
    uint8_t bmAttributes = 0;
    uint8_t bMaxPower = 0;
    uint16_t wTotalLength = 0;
    std::vector<InterfaceDescriptor> interfaces; // every alternate setting of every interface
};

#pragma pack(push, 1)
struct DeviceDescriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t bcdUSB;
    uint8_t bDeviceClass;
    uint8_t bDeviceSubClass;
    uint8_t bDeviceProtocol;
    uint8_t bMaxPacketSize0;
    uint16_t idVendor;
    uint16_t idProduct;
    uint16_t bcdDevice;
    uint8_t iManufacturer;
    uint8_t iProduct;
    uint8_t iSerialNumber;
    uint8_t bNumConfigurations;
};
#pragma pack(pop)
static_assert(sizeof(DeviceDescriptor) == 18, "device descriptor is 18 bytes");

// The capabilities a BOS descriptor announced.
struct BosDescriptor {
    bool present = false;
    bool usb20_extension = false;
    uint32_t usb20_attributes = 0;
    bool superspeed_capability = false;
    uint16_t superspeed_speeds = 0;
    bool container_id = false;
    uint8_t container_uuid[16] = {};
};

} // namespace zvusb
