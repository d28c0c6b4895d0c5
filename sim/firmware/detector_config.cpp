#include "sim/firmware/detector_config.h"

#include <stdexcept>

#include "sim/firmware/identity_block.h"

namespace zvsim {

void validate(const DetectorConfig &config) {
    if (config.serial.size() > kIdentitySerialSize)
        throw std::invalid_argument("serial: at most 15 bytes fit the identity block");
    if (!config.identity.empty() && config.identity.size() != kIdentitySize)
        throw std::invalid_argument("identity: give a complete block of 72 bytes");
    // A string descriptor holds at most 126 UTF-16 characters.
    if (config.manufacturer.size() > 126 || config.product_name.size() > 126)
        throw std::invalid_argument("manufacturer/product_name: at most 126 characters");
    if (config.fifo_samples == 0) throw std::invalid_argument("fifo_samples: at least 1");
}

} // namespace zvsim
