// A per-block transformer of raw 16-bit words into output elements of type T. A stream owns one
// processor and rebuilds it at the start of each run.
#pragma once

#include <cstdint>

template <typename T> class Processor {
  public:
    // Converts count raw words into count outputs at out (a processor that computes only the
    // samples the stream keeps may leave the others unwritten).
    virtual void process(int32_t count, const uint16_t *raw, T *out) = 0;
    // Takes a changed cutoff; may be called from another thread while process runs. The
    // default ignores it (the change then waits for the next run).
    virtual void set_params(double samplerate, double cutoff) {
        (void)samplerate;
        (void)cutoff;
    }

    virtual ~Processor() = default;
};
