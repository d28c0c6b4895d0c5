// Opening a detector whose descriptors are arbitrary bytes: device, configuration, BOS and string
// descriptors as a simulated detector serves them, read and parsed by the transport exactly as at
// a real open, then the streaming alternate setting selected and released.
//
// Input: a byte choosing the detector (bit 0: high speed instead of SuperSpeed), then descriptor
// overrides, each as type (1 byte), index (1 byte), length (2 bytes, little-endian) and the bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "sim/simulator.h"
#include "usb/cy_device.h"

using namespace zvusb;

namespace {

std::shared_ptr<zvsim::SimulatedDetector> detectors[2];

void check(bool condition) {
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    zvsim::DetectorConfig config;
    detectors[0] = zvsim::attach(config);
    config.speed = zvsim::Speed::high;
    detectors[1] = zvsim::attach(config);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const int which = data[0] & 1;
    zvsim::SimulatedDetector &detector = *detectors[which];
    detector.clear_descriptor_overrides();
    for (size_t at = 1; at + 4 <= size;) {
        const uint8_t type = data[at], index = data[at + 1];
        size_t length = size_t(data[at + 2] | data[at + 3] << 8);
        at += 4;
        if (length > size - at) length = size - at;
        detector.override_descriptor(type, index,
                                     std::vector<uint8_t>(data + at, data + at + length));
        at += length;
    }

    CCyDriverDevice device(nullptr, kInterfaceClassSecondary, false);
    if (device.open_device(uint8_t(which))) {
        check(device.endpoint_count() >= 1 && device.control_endpoint() != nullptr);
        for (uint8_t alt : {uint8_t(1), uint8_t(0)}) {
            device.set_alt_setting(alt);
            for (int i = 0; i < device.endpoint_count(); ++i)
                check(device.endpoint(i) != nullptr);
            check(device.endpoint(device.endpoint_count()) == nullptr);
        }
    } else {
        check(!device.is_open() && device.endpoint_count() == 0);
    }
    device.close_device();
    detector.clear_descriptor_overrides();
    return 0;
}
