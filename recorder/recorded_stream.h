// The continuous stream a recorder records, behind one interface: a raw stream (16-bit words), or
// a processed float or double stream (float32 power; a double stream's samples are rounded to
// float32 as they are stored). Each adapter borrows its stream, which must outlive it.
#pragma once

#include <cstdint>
#include <memory>

#include "libzv/continuous/reader_claim.h"
#include "libzv/libzv.h"

namespace zv::recording {

class RecordedStream {
  public:
    virtual ~RecordedStream() = default;

    // ZV_RECORDING_RAW or ZV_RECORDING_FLOAT32: what the recording stores.
    virtual int kind() const = 0;
    virtual ReaderClaim &claim() = 0;
    virtual bool running() = 0;
    // The stream's own operations: 0 or a libzv error, stored as the calling thread's.
    virtual int start(double buffer_seconds) = 0;
    virtual void stop() = 0;
    // Output samples per second.
    virtual double samplerate() = 0;
    // Reads up to `count` samples in the recording's sample type into out (statuses of
    // zv_raw_stream_read); count is at most max_read().
    virtual int read(void *out, uint64_t count, int32_t timeout_ms, zv_block &block) = 0;
    // Describes the recording of this stream now: the detector, the stream's settings and
    // calibration. 0 or the error stored.
    virtual int describe(zv_recording_info &info) = 0;
    // Sets the largest read; allocates what a conversion needs (may throw std::bad_alloc), or
    // frees it (0).
    virtual void set_max_read(uint64_t count) = 0;
};

// Null with the error stored (48) when the stream is null or not one of the library's.
std::unique_ptr<RecordedStream> recorded_raw_stream(zv_raw_stream *stream);
std::unique_ptr<RecordedStream> recorded_float_stream(zv_stream_float *stream);
std::unique_ptr<RecordedStream> recorded_double_stream(zv_stream_double *stream);

} // namespace zv::recording
