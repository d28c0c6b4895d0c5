#include "usb/descriptor_parser.h"

#include <cstring>

#include "usb/byte_order.h"

namespace zvusb {

namespace {

namespace capability {
constexpr uint8_t kUsb20Extension = 2;
constexpr uint8_t kSuperSpeed = 3;
constexpr uint8_t kContainerId = 4;
} // namespace capability

// Minimum lengths of the descriptors read out of a configuration or BOS table.
constexpr uint8_t kInterfaceSize = 9;
constexpr uint8_t kEndpointSize = 7;
constexpr uint8_t kCompanionSize = 6;
constexpr uint8_t kUsb20ExtensionSize = 7;
constexpr uint8_t kSuperSpeedCapabilitySize = 10;
constexpr uint8_t kContainerIdSize = 20;

} // namespace

bool parse_device_descriptor(const uint8_t *data, size_t size, DeviceDescriptor *out) {
    if (data == nullptr || size < kDeviceDescriptorSize) return false;
    if (data[0] != kDeviceDescriptorSize || data[1] != descriptor_type::kDevice) return false;
    DeviceDescriptor d;
    d.bLength = data[0];
    d.bDescriptorType = data[1];
    d.bcdUSB = get_le16(data + 2);
    d.bDeviceClass = data[4];
    d.bDeviceSubClass = data[5];
    d.bDeviceProtocol = data[6];
    d.bMaxPacketSize0 = data[7];
    d.idVendor = get_le16(data + 8);
    d.idProduct = get_le16(data + 10);
    d.bcdDevice = get_le16(data + 12);
    d.iManufacturer = data[14];
    d.iProduct = data[15];
    d.iSerialNumber = data[16];
    d.bNumConfigurations = data[17];
    *out = d;
    return true;
}

bool parse_configuration_descriptor(const uint8_t *data, size_t size, bool with_companions,
                                    ConfigurationDescriptor *out) {
    if (data == nullptr || size < kConfigurationHeaderSize) return false;
    if (data[0] != kConfigurationHeaderSize || data[1] != descriptor_type::kConfiguration)
        return false;
    const size_t total = descriptor_total_length(data);
    if (total < kConfigurationHeaderSize || total > size) return false;

    ConfigurationDescriptor c;
    c.wTotalLength = uint16_t(total);
    c.bConfigurationValue = data[5];
    c.bmAttributes = data[7];
    c.bMaxPower = data[8];

    bool endpoint_open = false; // the last descriptor read was an endpoint: a companion may follow
    for (size_t pos = kConfigurationHeaderSize; pos < total;) {
        if (total - pos < 2) return false;
        const uint8_t length = data[pos];
        const uint8_t type = data[pos + 1];
        if (length < 2 || length > total - pos) return false;
        const uint8_t *d = data + pos;
        if (type == descriptor_type::kInterface) {
            if (length < kInterfaceSize) return false;
            if (c.interfaces.size() >= kMaxInterfacesPerConfiguration) return false;
            InterfaceDescriptor i;
            i.bInterfaceNumber = d[2];
            i.bAlternateSetting = d[3];
            i.bNumEndpoints = d[4];
            i.bInterfaceClass = d[5];
            i.bInterfaceSubClass = d[6];
            i.bInterfaceProtocol = d[7];
            i.iInterface = d[8];
            c.interfaces.push_back(std::move(i));
            endpoint_open = false;
        } else if (type == descriptor_type::kEndpoint) {
            if (length < kEndpointSize || c.interfaces.empty()) return false;
            auto &endpoints = c.interfaces.back().endpoints;
            if (endpoints.size() >= kMaxEndpointsPerInterface) return false;
            EndpointDescriptor e;
            e.bLength = d[0];
            e.bDescriptorType = d[1];
            e.bEndpointAddress = d[2];
            e.bmAttributes = d[3];
            e.wMaxPacketSize = get_le16(d + 4);
            e.bInterval = d[6];
            endpoints.push_back(e);
            endpoint_open = true;
        } else if (type == descriptor_type::kSuperSpeedCompanion && with_companions) {
            if (length < kCompanionSize || !endpoint_open) return false;
            EndpointDescriptor &e = c.interfaces.back().endpoints.back();
            e.has_companion = true;
            e.ss_bLength = d[0];
            e.ss_bDescriptorType = d[1];
            e.ss_bMaxBurst = d[2];
            e.ss_bmAttributes = d[3];
            e.ss_wBytesPerInterval = get_le16(d + 4);
            endpoint_open = false;
        }
        // Other descriptors (class-specific, interface associations) are skipped.
        pos += length;
    }
    for (const InterfaceDescriptor &i : c.interfaces)
        if (i.endpoints.size() != i.bNumEndpoints) return false;
    *out = std::move(c);
    return true;
}

bool parse_bos_descriptor(const uint8_t *data, size_t size, BosDescriptor *out) {
    if (data == nullptr || size < kBosHeaderSize) return false;
    if (data[0] != kBosHeaderSize || data[1] != descriptor_type::kBos) return false;
    const size_t total = descriptor_total_length(data);
    const unsigned announced = data[4];
    if (total < kBosHeaderSize || total > size) return false;

    BosDescriptor b;
    b.present = true;
    unsigned count = 0;
    for (size_t pos = kBosHeaderSize; pos < total; ++count) {
        if (total - pos < 3) return false;
        const uint8_t length = data[pos];
        const uint8_t *d = data + pos;
        if (length < 3 || length > total - pos) return false;
        if (d[1] != descriptor_type::kDeviceCapability) return false;
        switch (d[2]) {
        case capability::kUsb20Extension:
            if (length < kUsb20ExtensionSize) return false;
            b.usb20_extension = true;
            b.usb20_attributes = get_le32(d + 3);
            break;
        case capability::kSuperSpeed:
            if (length < kSuperSpeedCapabilitySize) return false;
            b.superspeed_capability = true;
            b.superspeed_speeds = get_le16(d + 4);
            break;
        case capability::kContainerId:
            if (length < kContainerIdSize) return false;
            b.container_id = true;
            std::memcpy(b.container_uuid, d + 4, sizeof b.container_uuid);
            break;
        default: // other capabilities are counted, not interpreted
            break;
        }
        pos += length;
    }
    if (count != announced) return false;
    *out = b;
    return true;
}

} // namespace zvusb
