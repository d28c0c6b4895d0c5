#include "loss_clock.h"

namespace zv {
namespace {

// Long enough to contain arrivals with the least delay (hundreds of transfers), short enough that
// a detector clock off by 100 ppm moves the anchor by only 0.2 ms meanwhile.
constexpr double kWindowSeconds = 2.0;

} // namespace

LossClock::LossClock(double samplerate) : samplerate_(samplerate), start_(seconds(Clock::now())) {}

double LossClock::seconds(Clock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

void LossClock::observe(Clock::time_point arrival, uint64_t end) {
    const double t = seconds(arrival);
    const double anchor = t - double(end) / samplerate_;
    while (!window_.empty() && window_.back().anchor >= anchor)
        window_.pop_back();
    window_.push_back({t, anchor});
    while (window_.front().arrival < t - kWindowSeconds)
        window_.pop_front();
}

double LossClock::time_of(uint64_t position) const {
    const double anchor = window_.empty() ? start_ : window_.front().anchor;
    return anchor + double(position) / samplerate_;
}

double LossClock::samples_missing(Clock::time_point arrival, uint64_t end) const {
    if (window_.empty()) return 0;
    return (seconds(arrival) - window_.front().anchor) * samplerate_ - double(end);
}

} // namespace zv
