// The 10-byte port command record as a port status read returns it.
#pragma once

#include <cstdint>
#include <string>

#include "libzv/libzv.h"

namespace zve2e {

struct PortState {
    int status = -1; // of the status read
    uint8_t mode = 0xFF;
    uint8_t level = 0;
    uint32_t period = 0;
    uint32_t threshold = 0;
};

PortState port_state(zv_device *dev, ZV_PORT_t port);
std::string describe(const PortState &s);

// Device clocks (5 ns) lasting `samples` samples at the detector's sample rate.
uint32_t clocks_for_samples(zv_device *dev, uint32_t samples);

} // namespace zve2e
