#include "stream/simple_fir_processor.h"

#include <cmath>

#include "libzv/errors.h"
#include "stream/calibrate.h"

namespace {

// No machine holds a window this long; larger ratios (and infinity) fail before allocating.
constexpr double kMaxTaps = 4611686018427387904.0; // 2^62

} // namespace

int fir_tap_count(double samplerate, double cutoff, uint64_t &taps) {
    const double ratio = samplerate / cutoff;
    if (std::isnan(ratio)) return zv::set_error(zv::Error::invalid_parameters);
    if (ratio >= kMaxTaps) return zv::set_error(zv::Error::out_of_memory);
    taps = ratio >= 1.0 ? static_cast<uint64_t>(ratio) : 1;
    return 0;
}

template <typename T>
std::unique_ptr<SimpleFIRProcessor<T>>
SimpleFIRProcessor<T>::create(const ProcessingState<T> &state, uint64_t taps) {
    if (taps == 0) taps = 1;
    // calloc: zeroed pages are only touched as the window fills; it also refuses sizes whose
    // byte count overflows.
    T *window = static_cast<T *>(std::calloc(taps, sizeof(T)));
    if (!window) return nullptr;
    return std::unique_ptr<SimpleFIRProcessor>(new SimpleFIRProcessor(state, taps, window));
}

namespace {

// a + b as the rounded sum plus its exact rounding error (no branch, no fused operations).
inline void two_sum(double a, double b, double &sum, double &error) {
    sum = a + b;
    const double b_part = sum - a;
    error = (a - (sum - b_part)) + (b - b_part);
}

} // namespace

template <typename T> inline void SimpleFIRProcessor<T>::accumulate(double value) {
    double error;
    two_sum(sum_, value, sum_, error);
    compensation_ += error;
}

template <typename T> inline void SimpleFIRProcessor<T>::push(T x) {
    T &oldest = window_[slot_];
    // The change first, so that only one addition per sample lies on each of the chains of the
    // sum and of its compensation.
    double change, change_error, error;
    two_sum(static_cast<double>(x), -static_cast<double>(oldest), change, change_error);
    two_sum(sum_, change, sum_, error);
    compensation_ += error + change_error;
    oldest = x;
    if (++slot_ == taps_) {
        slot_ = 0;
        sum_ = 0.0;
        compensation_ = 0.0;
        for (uint64_t j = 0; j < taps_; ++j)
            accumulate(static_cast<double>(window_[j]));
    }
}

template <typename T>
void SimpleFIRProcessor<T>::process(int32_t count, const uint16_t *raw, T *out) {
    const T scale = state_.calibration_scale;
    const T offset = state_.calibration_offset;
    int64_t step = state_.downsampling;
    int64_t kept = state_.phase;
    if (step < 2) {
        step = 1;
        kept = 0;
    }
    const double length = static_cast<double>(taps_);
    int32_t i = 0;
    for (; kept < count; kept += step) {
        for (; i <= kept; ++i)
            push(static_cast<T>(raw[i] & kAdcCodeMask) * scale + offset);
        out[kept] = static_cast<T>((sum_ + compensation_) / length);
    }
    for (; i < count; ++i)
        push(static_cast<T>(raw[i] & kAdcCodeMask) * scale + offset);
}

template class SimpleFIRProcessor<float>;
template class SimpleFIRProcessor<double>;
