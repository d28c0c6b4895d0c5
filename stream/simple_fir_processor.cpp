#include "stream/simple_fir_processor.h"

#include <cmath>

#include "libzv/errors.h"
#include "stream/calibrate.h"

namespace {

// No machine holds a window this long; larger ratios (and infinity) fail before allocating.
constexpr double kMaxTaps = 4611686018427387904.0; // 2^62
// Samples between recomputations of the window sum, at least.
constexpr uint64_t kRecomputeInterval = 65536;

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

template <typename T>
SimpleFIRProcessor<T>::SimpleFIRProcessor(const ProcessingState<T> &state, uint64_t taps, T *window)
    : state_(state), taps_(taps), window_(window),
      wraps_per_recompute_((kRecomputeInterval + taps - 1) / taps),
      wraps_left_(wraps_per_recompute_) {}

template <typename T>
typename SimpleFIRProcessor<T>::CompensatedSum SimpleFIRProcessor<T>::window_sum() const {
    CompensatedSum total;
    for (uint64_t j = 0; j < taps_; ++j) {
        double error;
        two_sum(total.sum, static_cast<double>(window_[j]), total.sum, error);
        total.compensation += error;
    }
    return total;
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
    // The running state in locals: stores through out cannot then force them through memory.
    T *const window = window_.get();
    CompensatedSum total = sum_;
    uint64_t slot = slot_;
    uint64_t wraps_left = wraps_left_;
    auto push = [&](T x) {
        T &oldest = window[slot];
        // The change first, so that only one addition per sample lies on each of the chains
        // of the sum and of its compensation.
        double change, change_error, error;
        two_sum(static_cast<double>(x), -static_cast<double>(oldest), change, change_error);
        two_sum(total.sum, change, total.sum, error);
        total.compensation += error + change_error;
        oldest = x;
        if (++slot == taps_) {
            slot = 0;
            if (--wraps_left == 0) {
                wraps_left = wraps_per_recompute_;
                total = window_sum();
            }
        }
    };
    // Each tap weighs 1 / taps.
    const double weight = 1.0 / static_cast<double>(taps_);
    int32_t i = 0;
    for (; kept < count; kept += step) {
        for (; i <= kept; ++i)
            push(static_cast<T>(raw[i] & kAdcCodeMask) * scale + offset);
        out[kept] = static_cast<T>((total.sum + total.compensation) * weight);
    }
    for (; i < count; ++i)
        push(static_cast<T>(raw[i] & kAdcCodeMask) * scale + offset);
    sum_ = total;
    slot_ = slot;
    wraps_left_ = wraps_left;
}

template class SimpleFIRProcessor<float>;
template class SimpleFIRProcessor<double>;
