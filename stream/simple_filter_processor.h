// A processor running a fixed low-pass design: calibration, then the filter over the block in
// place, its state carried from block to block. A cutoff change waits for the next run.
#pragma once

#include "stream/filter_chunks.h"
#include "stream/processing_state.h"
#include "stream/processor.h"

// F is a Dsp::SimpleFilter.
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
