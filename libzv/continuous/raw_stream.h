// A raw continuous stream (zv_raw_stream_* in libzv.h), as the library's other parts see it: the
// recorder reads one on a thread of its own, under the stream's reader claim.
#pragma once

#include <atomic>
#include <memory>

#include "block_reader.h"
#include "continuous_acquisition.h"
#include "reader_claim.h"

struct zv_raw_stream {
    zv_raw_stream(zv_device *device, bool masked) : dev(device), mask(masked) {}

    zv_device *dev;
    const bool mask;
    // The acquisition of the last start, kept after stop so that its loss count stays readable.
    // Replaced only by a start, which is refused while a recorder claims the stream.
    std::unique_ptr<zv::ContinuousAcquisition> acquisition;
    // Set by start, cleared by stop (which may come from another thread than the reader's).
    std::atomic<bool> running{false};
    zv::BlockEvents events;
    zv::ReaderClaim claim;
};
