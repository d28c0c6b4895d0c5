// The detector's sample FIFO in real-time mode, counted in samples since the collection started.
// The ADC writes into it at the sample rate whether or not the host reads; the host's queued
// transfers take from it in order. What does not fit is dropped (the FIFO keeps what it holds and
// loses the newest samples), and the detector then owes the host a data-loss marker.
//
// The FIFO knows no clock: its owner converts wall-clock time to the number of samples the ADC has
// written, and back.
#pragma once

#include <cstdint>

namespace zvsim {

class SampleFifo {
  public:
    // `capacity` in samples, at least 1.
    explicit SampleFifo(uint64_t capacity) : capacity_(capacity > 0 ? capacity : 1) {}

    // A collection starts: empty, nothing written yet.
    void restart() { taken_ = dropped_ = 0; }

    // The ADC has written `written` samples since the start. Drops what the FIFO cannot hold and
    // returns how many samples that was (0 when everything fits or was already accounted).
    uint64_t overflow(uint64_t written) {
        const uint64_t level = written > taken_ + dropped_ ? written - taken_ - dropped_ : 0;
        if (level <= capacity_) return 0;
        const uint64_t lost = level - capacity_;
        dropped_ += lost;
        return lost;
    }

    // The number of samples the ADC must have written before the FIFO holds `n` samples beyond
    // those taken and dropped: when a transfer of n samples can complete.
    uint64_t filled_at(uint64_t n) const { return taken_ + dropped_ + n; }

    // A transfer took n samples.
    void take(uint64_t n) { taken_ += n; }

    uint64_t capacity() const { return capacity_; }
    uint64_t taken() const { return taken_; }
    uint64_t dropped() const { return dropped_; }

  private:
    uint64_t capacity_;
    uint64_t taken_ = 0;
    uint64_t dropped_ = 0;
};

} // namespace zvsim
