// Little-endian fields, as USB descriptors, the driver's transfer records and the detector's own
// records (identity block, port commands) store them: the one place their bytes are put together
// and taken apart.
#pragma once

#include <cstdint>

namespace zvusb {

inline uint16_t get_le16(const uint8_t *at) {
    return uint16_t(at[0] | at[1] << 8);
}

inline uint32_t get_le32(const uint8_t *at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

inline void put_le16(uint8_t *at, uint16_t value) {
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

inline void put_le32(uint8_t *at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

} // namespace zvusb
