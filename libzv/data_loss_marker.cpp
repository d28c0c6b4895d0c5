#include "data_loss_marker.h"

namespace zv {
namespace {

constexpr int kMarkerSpacing = 5120;
constexpr int kMarkerPairs = 16;
constexpr uint16_t kMarkerFirst = 0xFFF3;
constexpr uint16_t kMarkerSecond = 0x0003;

bool marker_at(const uint16_t *at) {
    for (int k = 0; k < kMarkerPairs; ++k)
        if (at[2 * k] != kMarkerFirst || at[2 * k + 1] != kMarkerSecond) return false;
    return true;
}

} // namespace

bool is_data_loss_marker(const uint16_t *samples, int count) {
    // Every tested position leaves at least 5120 samples behind it, so the 32 words fit.
    for (int p = count - kMarkerSpacing; p > 0; p -= kMarkerSpacing)
        if (marker_at(samples + p)) return true;
    return false;
}

} // namespace zv
