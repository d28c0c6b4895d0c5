#include "e2e/guest/samples.h"

#include "e2e/guest/report.h"

namespace zve2e {

namespace {
constexpr size_t kShown = 6;
}

uint32_t ramp_distance(uint16_t from, uint16_t to) {
    return (uint32_t(to & kCodeMask) + kRampLength - (from & kCodeMask)) % kRampLength;
}

std::vector<size_t> ramp_breaks(const uint16_t *samples, size_t n) {
    std::vector<size_t> breaks;
    for (size_t i = 0; i + 1 < n; ++i)
        if (ramp_distance(samples[i], samples[i + 1]) != 1) breaks.push_back(i);
    return breaks;
}

size_t bit_mismatches(const uint16_t *samples, size_t n, uint16_t bit, bool level) {
    size_t count = 0;
    for (size_t i = 0; i < n; ++i)
        if (((samples[i] & bit) != 0) != level) ++count;
    return count;
}

BitRuns bit_runs(const uint16_t *samples, size_t n, uint16_t bit) {
    BitRuns runs;
    if (n == 0) return runs;
    runs.first_level = (samples[0] & bit) != 0;
    bool level = runs.first_level;
    size_t length = 0;
    for (size_t i = 0; i < n; ++i) {
        const bool l = (samples[i] & bit) != 0;
        if (l != level) {
            runs.lengths.push_back(length);
            level = l;
            length = 0;
        }
        ++length;
    }
    runs.lengths.push_back(length);
    return runs;
}

std::string describe(const BitRuns &runs) {
    std::string text =
        format("%zu runs from level %d:", runs.lengths.size(), int(runs.first_level));
    for (size_t k = 0; k < runs.lengths.size() && k < kShown; ++k)
        text += format(" %zu", runs.lengths[k]);
    if (runs.lengths.size() > kShown) text += " ...";
    return text;
}

std::string describe_breaks(const std::vector<size_t> &breaks, const uint16_t *samples) {
    std::string text = format("%zu breaks", breaks.size());
    for (size_t k = 0; k < breaks.size() && k < kShown; ++k)
        text +=
            format(", at %zu: %04x -> %04x", breaks[k], samples[breaks[k]], samples[breaks[k] + 1]);
    return text;
}

} // namespace zve2e
