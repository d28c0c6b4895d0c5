// The host's model of the detector's clock during a continuous acquisition: which stream position
// is being sampled at which host time. The detector says that it lost samples, never how many; the
// model turns the host time at which samples arrive after the loss into a count, and keeps stream
// positions aligned with time (position / sample rate = time since the first sample).
//
// Samples reach the host some time after they were sampled, never before. Over a sliding window
// the smallest "arrival time - position / rate" is the best estimate of when position 0 was
// sampled (the anchor): it is the arrival with the least delay, and the short window follows a
// detector clock that runs slightly fast or slow against the host's.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>

namespace zv {

class LossClock {
  public:
    using Clock = std::chrono::steady_clock;

    explicit LossClock(double samplerate);

    double samplerate() const { return samplerate_; }

    // Samples up to stream position `end` (exclusive) arrived at `arrival`.
    void observe(Clock::time_point arrival, uint64_t end);
    // Host time (steady clock, seconds since its epoch) at which `position` was sampled; before
    // the first observation, the time of the model's creation stands for position 0.
    double time_of(uint64_t position) const;
    // How many samples a loss before `end` most likely took, if samples up to `end` (counted as
    // if nothing had been lost) arrived at `arrival`; negative or zero when the arrival shows no
    // loss. Uses the anchor as it stands (observations after the loss must not be fed in first).
    double samples_missing(Clock::time_point arrival, uint64_t end) const;

  private:
    struct Observation {
        double arrival; // seconds
        double anchor;  // arrival - end / rate
    };
    static double seconds(Clock::time_point t);

    const double samplerate_;
    double start_;
    // Increasing anchors, oldest first: the window's minimum is at the front.
    std::deque<Observation> window_;
};

} // namespace zv
