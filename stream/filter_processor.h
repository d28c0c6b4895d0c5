// A processor running a parameterised Butterworth design whose cutoff can change while it runs:
// set_params (any thread) hands the new cutoff over, and the processing thread designs again at
// the start of its next block, keeping the filter state.
#pragma once

#include <atomic>

#include "stream/dsp/params.h"
#include "stream/filter_chunks.h"
#include "stream/processing_state.h"
#include "stream/processor.h"

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
    void set_params(double samplerate, double cutoff) override {
        requested_cutoff_.store(cutoff / samplerate);
        pending_.store(true);
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
