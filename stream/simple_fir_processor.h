// The processor of the filter mode "fir": a running mean of the last L calibrated samples,
// computed only at the positions the stream keeps when it downsamples.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "stream/processor.h"

// The moving-average length for a cutoff: samplerate / cutoff truncated toward zero, at least 1.
// Returns 0 and stores taps, or returns the error stored: 48 "invalid parameters passed" when
// the ratio is not a number, 49 "could not allocate memory" when it is too large for any window
// (a cutoff of 0 asks for an endless one).
int fir_tap_count(double samplerate, double cutoff, uint64_t &taps);

template <typename T> class SimpleFIRProcessor : public Processor<T> {
  public:
    // Null when the window of taps elements cannot be allocated.
    static std::unique_ptr<SimpleFIRProcessor> create(const ProcessingState<T> &state,
                                                      uint64_t taps);

    void process(int32_t count, const uint16_t *raw, T *out) override;

    uint64_t taps() const { return taps_; }

  private:
    struct FreeDeleter {
        void operator()(T *p) const { std::free(p); }
    };

    SimpleFIRProcessor(const ProcessingState<T> &state, uint64_t taps, T *window);

    // A sum in double with its rounding error carried separately (compensated summation):
    // adding and removing large values leaves small means exact to the last bits.
    struct CompensatedSum {
        double sum = 0.0;
        double compensation = 0.0;
    };

    // Recomputes the sum from the window.
    CompensatedSum window_sum() const;

    const ProcessingState<T> &state_;
    uint64_t taps_;
    // The last taps calibrated samples, as a ring; slot_ is the oldest.
    std::unique_ptr<T[], FreeDeleter> window_;
    uint64_t slot_ = 0;
    // Sum of the window, recomputed from the window at every wraps_per_recompute_-th wrap of
    // the ring (about every 65536 samples), so nothing drifts however long the run. Its
    // timing depends only on the sample count: downsampling never changes an output.
    CompensatedSum sum_;
    uint64_t wraps_per_recompute_;
    uint64_t wraps_left_;
};

extern template class SimpleFIRProcessor<float>;
extern template class SimpleFIRProcessor<double>;
