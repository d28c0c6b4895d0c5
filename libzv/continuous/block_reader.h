// One read of a continuous stream: takes runs of samples from the acquisition's ring and hands
// them to a consumer (a plain copy for raw streams, the processing chain for processed ones) until
// the consumer has what the caller asked for, the time-out passes, the caller is interrupted or
// the acquisition ends. Gaps and setting changes reach the consumer at their place in the samples,
// so it can describe them in its own positions.
#pragma once

#include <cstdint>
#include <vector>

#include "continuous_acquisition.h"

namespace zv {

// What the last read delivered beside its samples; zv_block points into it.
struct BlockEvents {
    std::vector<zv_gap> gaps;
    std::vector<zv_setting_change> changes;
    void clear() {
        gaps.clear();
        changes.clear();
    }
};

class PieceConsumer {
  public:
    virtual ~PieceConsumer() = default;
    // Raw samples are missing here (stream position of the first missing one, count, kind).
    virtual void on_gap(const zv_gap &gap, BlockEvents &events) = 0;
    // A setting changed from here on.
    virtual void on_change(const zv_setting_change &change, BlockEvents &events) = 0;
    // Consumes samples of the piece, writing at most `room` outputs; reports the raw samples used
    // and the outputs written. `first_output` receives the output position of the first output
    // of this read when the read has none yet.
    struct Used {
        size_t raw;
        uint64_t written;
    };
    virtual Used consume(const RingPiece &piece, uint64_t room, bool first_of_read,
                         uint64_t &first_output) = 0;
    // Raw samples that make `outputs` outputs (what a read waits for).
    virtual uint64_t raw_for(uint64_t outputs) const { return outputs; }
};

// Reads `wanted` outputs (see zv_raw_stream_read for statuses). samplerate_divisor turns an output
// position into a raw stream position for the block's time (the downsampling factor).
int read_block(ContinuousAcquisition *acq, PieceConsumer &consumer, uint64_t wanted,
               int32_t timeout_ms, uint64_t output_to_raw, zv_block &block, BlockEvents &events);

} // namespace zv
