// Synthetic blocks for recording tests: a ramp whose every sample is its own stream position
// (modulo the ramp's period), as a continuous stream's read would deliver it, with gaps (samples
// skipped, so the ramp jumps across them) and setting changes where the test asks for them.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "libzv/libzv.h"

namespace ramp {

// Raw words cycle through the 14-bit codes; float samples through the integers a float holds.
constexpr uint64_t kRawPeriod = 1 << 14;
constexpr uint64_t kFloatPeriod = 1 << 24;

inline uint16_t raw_at(uint64_t position) {
    return uint16_t(position % kRawPeriod);
}
inline float float_at(uint64_t position) {
    return float(position % kFloatPeriod);
}

// The description a test gives one block.
struct Plan {
    explicit Plan(uint64_t samples = 0) : count(samples) {}
    uint64_t count;
    uint64_t lost_before = 0; // samples lost just before the block's first sample
    int32_t kind = ZV_LOSS_DEVICE;
    // Changes at offsets (in stream positions) from the block's first delivered sample.
    std::vector<std::pair<uint64_t, double>> changes;
    const char *change_name = "highgain";
};

// Makes the blocks of a stream one by one, keeping the stream position.
class Source {
  public:
    // Fills block (and its gap and change lists, owned by the source until the next call) and
    // the samples, of the kind asked for.
    void next(const Plan &plan, zv_block &block, std::vector<uint16_t> *raw,
              std::vector<float> *values) {
        gaps_.clear();
        changes_.clear();
        // A gap is listed at its first missing position.
        if (plan.lost_before) gaps_.push_back(zv_gap{position_, plan.lost_before, plan.kind});
        position_ += plan.lost_before;
        for (const auto &change : plan.changes) {
            zv_setting_change c{};
            c.index = position_ + change.first;
            std::strncpy(c.name, plan.change_name, sizeof c.name - 1);
            c.value = change.second;
            changes_.push_back(c);
        }
        if (raw) raw->resize(plan.count);
        if (values) values->resize(plan.count);
        for (uint64_t i = 0; i < plan.count; ++i) {
            if (raw) (*raw)[i] = raw_at(position_ + i);
            if (values) (*values)[i] = float_at(position_ + i);
        }
        block = zv_block{};
        block.index = position_;
        block.count = plan.count;
        block.lost = plan.lost_before;
        block.time = 1.7e9 + double(position_) * 1e-6;
        block.gaps = gaps_.data();
        block.ngaps = uint32_t(gaps_.size());
        block.changes = changes_.data();
        block.nchanges = uint32_t(changes_.size());
        position_ += plan.count;
    }
    uint64_t position() const { return position_; }

  private:
    uint64_t position_ = 0;
    std::vector<zv_gap> gaps_;
    std::vector<zv_setting_change> changes_;
};

// A description of a made-up detector for the attributes: single-ended, 1550 nm, high gain,
// calibration pair i = (0.001 * (i + 1) µW per code, -0.5 * i µW).
inline zv_recording_info detector_info(double samplerate) {
    zv_recording_info info{};
    std::strcpy(info.serial, "HLM25-STEST1IC");
    std::strcpy(info.product, "HLM25 1550nm FC");
    std::strcpy(info.firmware, "1.0.2");
    info.samplerate = samplerate;
    info.device_samplerate = 80e6;
    info.adc_bits = 14;
    info.high_gain = 1;
    for (int i = 0; i < ZV_RECORDING_PAIRS; ++i) {
        info.calibrations[i][0] = 0.001 * (i + 1);
        info.calibrations[i][1] = -0.5 * i;
    }
    info.calibration_pair = 0;
    info.calibration_follows_gain = 1;
    info.wavelength = 1550;
    info.responsivity = 1;
    info.calibration[0] = info.calibrations[0][0];
    info.calibration[1] = info.calibrations[0][1];
    info.units = -6;
    std::strcpy(info.filter, "none");
    info.downsampling = 1;
    info.decimation = 1;
    info.port_bits_masked = 1;
    info.start_time = 1.7e9;
    return info;
}

} // namespace ramp
