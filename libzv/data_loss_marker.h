// Recognises the packet by which the detector reports lost samples: 16 pairs of the words
// (0xFFF3, 0x0003) at one of the positions n - 5120, n - 10240, ... (above 0) of a packet of n
// samples. Such a packet carries no samples of its own.
#pragma once

#include <cstdint>

namespace zv {

bool is_data_loss_marker(const uint16_t *samples, int count);

} // namespace zv
