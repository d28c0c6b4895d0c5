// Parsers for the descriptor tables a device returns. Each takes the bytes actually received and
// refuses a table that is truncated, has wrong lengths, or exceeds the transport's limits; it never
// reads outside the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>

#include "usb/byte_order.h"
#include "usb/descriptors.h"
#include "usb/usb_standard.h"

namespace zvusb {

namespace descriptor_type = usb_standard::descriptor_type;

constexpr size_t kDeviceDescriptorSize = 18;
constexpr size_t kConfigurationHeaderSize = 9;
constexpr size_t kBosHeaderSize = 5;
constexpr size_t kMaxInterfacesPerConfiguration = 255;
constexpr size_t kMaxEndpointsPerInterface = 32;

bool parse_device_descriptor(const uint8_t *data, size_t size, DeviceDescriptor *out);

// A configuration descriptor with its interfaces, endpoints and (when `with_companions`)
// SuperSpeed endpoint companions. `size` must cover wTotalLength.
bool parse_configuration_descriptor(const uint8_t *data, size_t size, bool with_companions,
                                    ConfigurationDescriptor *out);

// A BOS descriptor: its capabilities must add up to wTotalLength and bNumDeviceCaps.
bool parse_bos_descriptor(const uint8_t *data, size_t size, BosDescriptor *out);

// wTotalLength of a configuration or BOS header (bytes 2 and 3).
inline uint16_t descriptor_total_length(const uint8_t *header) {
    return get_le16(header + 2);
}

} // namespace zvusb
