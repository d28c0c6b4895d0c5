// The 72-byte identity block the firmware answers to the identity request: firmware version,
// serial text, ADC bits, sample rate and six calibration pairs, little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "sim/firmware/detector_config.h"

namespace zvsim {

constexpr size_t kIdentitySize = 72;
constexpr size_t kIdentitySerialOffset = 4;
constexpr size_t kIdentitySerialSize = 15;

using IdentityBlock = std::array<uint8_t, kIdentitySize>;

// The block of a validated config: its `identity` bytes when given, else built from its fields.
IdentityBlock make_identity_block(const DetectorConfig &config);

// The serial text held in a block (up to 15 bytes, ending at the first zero byte).
std::string identity_serial(const IdentityBlock &block);

} // namespace zvsim
