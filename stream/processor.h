// A per-block transformer of raw 16-bit words into output elements of type T, and the part of a
// stream's state every processor reads. A stream owns one processor and rebuilds it at the start
// of each run.
#pragma once

#include <cstdint>

#include "stream/calibrate.h"

// What a processor reads at every block: the calibration line applied to each raw code and where
// the stream will pick kept samples.
template <typename T> struct ProcessingState {
    T calibration_scale = 1;
    T calibration_offset = 0;
    // Keep one processed sample in this many (values below 2 keep every sample).
    int32_t downsampling = 1;
    // Index, within the next raw block, of the next sample to keep when downsampling.
    int32_t phase = 0;
};

template <typename T> class Processor {
  public:
    // Converts count raw words into count outputs at out (a processor that computes only the
    // samples the stream keeps may leave the others unwritten).
    virtual void process(int32_t count, const uint16_t *raw, T *out) = 0;
    // Takes a changed cutoff; may be called from another thread while process runs. Returns
    // whether the running filter takes it: the default ignores it (the change then waits for the
    // next run).
    virtual bool set_params(double samplerate, double cutoff) {
        (void)samplerate;
        (void)cutoff;
        return false;
    }

    virtual ~Processor() = default;
};

// The processor of the filter mode "none": the calibration line only.
template <typename T> class CalibratedProcessor : public Processor<T> {
  public:
    explicit CalibratedProcessor(const ProcessingState<T> &state) : state_(state) {}

    void process(int32_t count, const uint16_t *raw, T *out) override {
        calibrate(raw, count, state_.calibration_scale, state_.calibration_offset, out);
    }

  private:
    const ProcessingState<T> &state_;
};
