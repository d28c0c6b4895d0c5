// What the guest looks for in raw samples. The detectors stream a ramp: each sample's 14-bit ADC
// code is one above the previous one (wrapping at 16384), so any lost, repeated or reordered
// sample shows as a break; ports S and T ride in bits 14 and 15.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zve2e {

constexpr uint16_t kCodeMask = 0x3FFF;
constexpr uint16_t kPortSBit = 0x4000;
constexpr uint16_t kPortTBit = 0x8000;
constexpr uint32_t kRampLength = 16384;

// Steps along the ramp from code `from` to code `to`.
uint32_t ramp_distance(uint16_t from, uint16_t to);

// Positions i at which sample i + 1 does not follow sample i on the ramp.
std::vector<size_t> ramp_breaks(const uint16_t *samples, size_t n);

// Samples whose `bit` is not at `level`.
size_t bit_mismatches(const uint16_t *samples, size_t n, uint16_t bit, bool level);

// The lengths of the runs of equal levels of `bit`, and the level of the first run.
struct BitRuns {
    bool first_level = false;
    std::vector<size_t> lengths;
};
BitRuns bit_runs(const uint16_t *samples, size_t n, uint16_t bit);
std::string describe(const BitRuns &runs);

// The first few breaks, for a failure line.
std::string describe_breaks(const std::vector<size_t> &breaks, const uint16_t *samples);

} // namespace zve2e
