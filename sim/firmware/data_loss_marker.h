// The packet content by which the detector tells the host that samples were lost: 16 pairs of
// the words 0xFFF3, 0x0003, placed 5120 samples before the end of a packet of n samples. The host
// looks for it at n - 5120, n - 10240, ... while the position is above 0, so only packets of more
// than 5120 samples can carry it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zvsim {

constexpr size_t kMarkerSpacing = 5120;
constexpr size_t kMarkerPairs = 16;
constexpr uint16_t kMarkerFirst = 0xFFF3;
constexpr uint16_t kMarkerSecond = 0x0003;

// Writes the marker into a packet of n samples. Returns false, leaving the packet as it is, when
// the packet is too short to carry one.
inline bool write_data_loss_marker(uint16_t *samples, size_t n) {
    if (n <= kMarkerSpacing) return false;
    uint16_t *at = samples + (n - kMarkerSpacing);
    for (size_t k = 0; k < kMarkerPairs; ++k) {
        at[2 * k] = kMarkerFirst;
        at[2 * k + 1] = kMarkerSecond;
    }
    return true;
}

} // namespace zvsim
