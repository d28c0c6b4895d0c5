// The USB vendor and product identifiers of the detectors this software drives: the backends
// list only these devices, and the library opens them.
#pragma once

#include <cstdint>

namespace zvusb {

struct QualifyingDevice {
    uint16_t vendor;
    uint16_t product;
    // False for the unprogrammed detector: it has no identity block to read.
    bool has_identity;
};

constexpr QualifyingDevice kQualifyingDevices[] = {
    {0x04B4, 0x0070, true},  // programmed detector, first vendor id
    {0x2E9D, 0x0080, true},  // programmed detector
    {0x2E9D, 0x007F, false}, // unprogrammed detector
};

// The entry for the identifiers, or null when the device is not a detector.
inline const QualifyingDevice *find_qualifying_device(uint16_t vendor, uint16_t product) {
    for (const QualifyingDevice &d : kQualifyingDevices)
        if (d.vendor == vendor && d.product == product) return &d;
    return nullptr;
}

} // namespace zvusb
