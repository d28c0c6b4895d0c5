#include "block_reader.h"

#include <algorithm>
#include <chrono>

#include "libzv/errors.h"
#include "libzv/interrupt.h"

namespace zv {
namespace {

using Clock = std::chrono::steady_clock;

bool interrupted() {
    return interrupt_requested();
}

} // namespace

int read_block(ContinuousAcquisition *acq, PieceConsumer &consumer, uint64_t wanted,
               int32_t timeout_ms, uint64_t output_to_raw, zv_block &block, BlockEvents &events) {
    block = zv_block{};
    events.clear();
    if (acq == nullptr) return set_error(Error::stream_not_running);
    begin_interruptible_call();
    SampleRing &ring = acq->ring();
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
    int status = 0;
    uint64_t got = 0;
    uint64_t first_output = 0;
    while (got < wanted) {
        RingPiece piece = ring.take();
        for (const zv_gap &gap : piece.gaps)
            consumer.on_gap(gap, events);
        for (const zv_setting_change &change : piece.changes)
            consumer.on_change(change, events);
        if (piece.count > 0) {
            const PieceConsumer::Used used =
                consumer.consume(piece, wanted - got, got == 0, first_output);
            ring.release(used.raw);
            got += used.written;
            // Samples that are always there (a detector paced by its reader) never make the
            // read wait, so the interrupt check is asked here too.
            if (interrupt_requested()) {
                status = set_error(Error::interrupted);
                break;
            }
            continue;
        }
        int32_t left = -1;
        if (timeout_ms >= 0) {
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            left = int32_t(std::max<int64_t>(ms.count(), 0));
        }
        const uint64_t raw = consumer.raw_for(wanted - got);
        const SampleRing::Wait why = ring.wait_readable(size_t(raw), left, interrupted);
        if (why == SampleRing::Wait::ready) continue;
        if (why == SampleRing::Wait::timed_out) {
            status = set_error(Error::timed_out);
        } else if (why == SampleRing::Wait::interrupted) {
            status = set_error(Error::interrupted);
        } else if (why == SampleRing::Wait::stopped) {
            status = set_error(Error::stream_stopped);
        } else {
            int code = 0;
            const char *message = "";
            if (!ring.drained(code, message)) continue; // samples arrived meanwhile
            // The acquisition ended by itself: its failure is this read's, after the samples
            // read before it.
            status = code != 0 ? store_error(code, message) : set_error(Error::stream_stopped);
        }
        break;
    }
    block.count = got;
    block.index = first_output;
    for (const zv_gap &gap : events.gaps)
        block.lost += gap.lost;
    if (got > 0) block.time = acq->unix_time_of(first_output * output_to_raw);
    block.gaps = events.gaps.data();
    block.ngaps = uint32_t(events.gaps.size());
    block.changes = events.changes.data();
    block.nchanges = uint32_t(events.changes.size());
    return status;
}

} // namespace zv
