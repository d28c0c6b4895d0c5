// USB vendor and product identifiers of the detectors this software drives.
#pragma once

#include <cstdint>

namespace zvusb {

struct UsbId {
    uint16_t vendor;
    uint16_t product;
};

constexpr UsbId kQualifyingDevices[] = {
    {0x04B4, 0x0070}, // programmed detector, first vendor id
    {0x2E9D, 0x0080}, // programmed detector
    {0x2E9D, 0x007F}, // unprogrammed detector (no identity block)
};

inline bool is_qualifying_device(uint16_t vendor, uint16_t product) {
    for (const UsbId &id : kQualifyingDevices)
        if (id.vendor == vendor && id.product == product) return true;
    return false;
}

} // namespace zvusb
