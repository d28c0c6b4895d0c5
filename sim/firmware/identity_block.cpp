#include "sim/firmware/identity_block.h"

#include <cstring>

#include "usb/byte_order.h"

namespace zvsim {

namespace {

void put_f32(uint8_t *at, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    zvusb::put_le32(at, bits);
}

} // namespace

IdentityBlock make_identity_block(const DetectorConfig &config) {
    IdentityBlock block{};
    if (config.identity.size() == kIdentitySize) {
        std::memcpy(block.data(), config.identity.data(), kIdentitySize);
        return block;
    }
    block[1] = config.firmware[0];
    block[2] = config.firmware[1];
    block[3] = config.firmware[2];
    std::memcpy(block.data() + kIdentitySerialOffset, config.serial.data(), config.serial.size());
    block[19] = config.adcbits;
    zvusb::put_le32(block.data() + 20, config.samplerate);
    for (size_t k = 0; k < config.calibrations.size(); ++k) {
        put_f32(block.data() + 24 + 8 * k, config.calibrations[k].gain);
        put_f32(block.data() + 28 + 8 * k, config.calibrations[k].offset);
    }
    return block;
}

std::string identity_serial(const IdentityBlock &block) {
    const char *text = reinterpret_cast<const char *>(block.data() + kIdentitySerialOffset);
    return std::string(text, strnlen(text, kIdentitySerialSize));
}

} // namespace zvsim
