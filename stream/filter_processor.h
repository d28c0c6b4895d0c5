// The processors of the IIR filter modes: each calibrates a block and runs a low-pass design over
// it in place, in pieces that stay in the first-level cache (the filter then reads back what the
// calibration has just written), its state carried from block to block.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "stream/calibrate.h"
#include "stream/dsp/params.h"
#include "stream/processor.h"

// Samples calibrated and then filtered at a time.
constexpr int32_t kFilterChunk = 4096;

// Writes the calibrated block into out and runs filter(count, channels) over it in place, where
// filter takes one channel as Dsp filters do.
template <typename T, class Filter>
void calibrate_and_filter(const ProcessingState<T> &state, int32_t count, const uint16_t *raw,
                          T *out, Filter &filter) {
    const T scale = state.calibration_scale;
    const T offset = state.calibration_offset;
    for (int32_t at = 0; at < count; at += kFilterChunk) {
        const int32_t n = std::min(kFilterChunk, count - at);
        T *chunk = out + at;
        calibrate(raw + at, n, scale, offset, chunk);
        T *channels[1] = {chunk};
        filter.process(n, channels);
    }
}

// A fixed design: a cutoff change waits for the next run. F is a Dsp::SimpleFilter.
template <typename T, class F> class SimpleFilterProcessor : public Processor<T> {
  public:
    // design(filter) designs the filter; the state starts at zero.
    template <class Design>
    SimpleFilterProcessor(const ProcessingState<T> &state, Design design) : state_(state) {
        design(filter_);
        filter_.reset();
    }

    void process(int32_t count, const uint16_t *raw, T *out) override {
        calibrate_and_filter(state_, count, raw, out, filter_);
    }

    const F &filter() const { return filter_; }

  private:
    const ProcessingState<T> &state_;
    F filter_;
};

// A parameterised Butterworth design whose cutoff can change while it runs: set_params (any
// thread) hands the new cutoff over, and the processing thread designs again at the start of its
// next block, keeping the filter state.
//
// F is a Dsp::FilterDesign of a Butterworth::Design::LowPass<max_order>. Its parameter set is
// filled as (max_order, 1, cutoff / samplerate), which the design reads as sample rate, order
// and cutoff: a first-order low pass at cutoff / (max_order * samplerate) of the sample rate.
template <typename T, class F> class FilterProcessor : public Processor<T> {
  public:
    FilterProcessor(const ProcessingState<T> &state, int max_order, double samplerate,
                    double cutoff)
        : state_(state) {
        params_[kSampleRate] = max_order;
        params_[kOrder] = 1.0;
        params_[kCutoff] = cutoff / samplerate;
        requested_cutoff_.store(params_[kCutoff]);
        filter_.apply_params(params_);
        filter_.reset();
    }

    // The value is published before the flag, and the processing side clears the flag before
    // reading the value: a change made while a redesign is under way is taken at the next block,
    // never lost, and the last value set is the one that stays.
    bool set_params(double samplerate, double cutoff) override {
        requested_cutoff_.store(cutoff / samplerate);
        pending_.store(true);
        return true;
    }

    void process(int32_t count, const uint16_t *raw, T *out) override {
        if (pending_.exchange(false)) {
            params_[kCutoff] = requested_cutoff_.load();
            filter_.apply_params(params_);
        }
        calibrate_and_filter(state_, count, raw, out, filter_);
    }

    // The parameter set the filter was last designed from (processing thread only).
    const Dsp::Params &params() const { return params_; }
    const F &filter() const { return filter_; }

  private:
    static constexpr int kSampleRate = 0;
    static constexpr int kOrder = 1;
    static constexpr int kCutoff = 2;

    const ProcessingState<T> &state_;
    F filter_;
    Dsp::Params params_{};
    std::atomic<double> requested_cutoff_{0.0};
    std::atomic<bool> pending_{false};
};
