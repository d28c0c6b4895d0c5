// The stream operations that take element buffers or supplies of type T (float or double).
#pragma once

#include <cstdint>

#include "stream/generic_stream.h"
#include "stream/stream_supply.h"

template <typename T> class ZVStream : public ZVGenericStream {
  public:
    // Collects count processed samples from the device into destination (and, when flags is not
    // null, the port S and T levels of each sample's raw word as 0..3 into flags).
    virtual int acquire(uint64_t count, T *destination, uint8_t *flags) = 0;
    // Collects from the device until the supply wants no more blocks.
    virtual int run(ZVStreamSupply<T> *supply) = 0;
    // Like acquire, fed with a 16-bit ramp instead of the device (no device needed).
    virtual int simulate(uint64_t count, T *destination, uint8_t *flags) = 0;
    // Seconds spent processing repeats raw blocks of 5120 samples into an owned output array of
    // length elements; negative on failure (invalid arguments: error 48; no memory: 49; no
    // processor for the filter mode: its error).
    virtual double benchmark(int32_t length, int32_t repeats, bool with_flags) = 0;
};
