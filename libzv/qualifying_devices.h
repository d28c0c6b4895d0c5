// The USB vendor and product identifiers of the detectors the library opens.
#pragma once

#include <cstdint>

namespace zv {

struct QualifyingDevice {
    uint16_t vendor;
    uint16_t product;
    // False for the unprogrammed detector: it has no identity block to read.
    bool has_identity;
};

constexpr QualifyingDevice kQualifyingDevices[] = {
    {0x04B4, 0x0070, true},
    {0x2E9D, 0x0080, true},
    {0x2E9D, 0x007F, false},
};

// The entry for the identifiers, or null when the device is not a detector.
inline const QualifyingDevice *find_qualifying_device(uint16_t vendor, uint16_t product) {
    for (const QualifyingDevice &d : kQualifyingDevices)
        if (d.vendor == vendor && d.product == product) return &d;
    return nullptr;
}

// Serial shown for the unprogrammed detector.
constexpr const char *kUnprogrammedSerial = "unknown";

} // namespace zv
