// The ring buffer between a continuous acquisition's thread (the producer, which writes each
// packet's samples) and the thread that reads the stream (the consumer). Sample data moves without
// a lock; the rare events that belong to a place in the samples (a gap, a setting that changed)
// travel beside them as marks keyed by ring position, so a reader learns each one exactly once, in
// the piece of samples it belongs to.
//
// Positions: a ring position counts samples written into the ring since start; a stream position
// also counts the samples lost before it. A gap mark at ring position p says that its samples are
// missing just before the sample at p.
//
// When the ring is full a producer that sets the pace (a detector with a clock of its own) drops
// new packets, counted as one overflow gap, until the reader has freed a quarter of the ring, so
// the newest samples keep flowing; a producer paced by the reader (a simulated detector without a
// clock) waits for room instead and loses nothing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "libzv.h"

namespace zv {

// A run of samples at the read position with no mark inside it: marks at its first sample come
// with it.
struct RingPiece {
    const uint16_t *samples = nullptr;
    size_t count = 0;
    uint64_t ring_position = 0;             // of samples[0]
    uint64_t stream_position = 0;           // of samples[0], the gaps before it included
    std::vector<zv_gap> gaps;               // just before samples[0], stream positions filled in
    std::vector<zv_setting_change> changes; // taking effect at samples[0]
};

class SampleRing {
  public:
    // Why a wait for samples ended without any.
    enum class Wait { ready, timed_out, stopped, finished, interrupted };

    // capacity in samples (> 0). wait_for_reader: the producer waits for room instead of dropping.
    SampleRing(size_t capacity, bool wait_for_reader);
    SampleRing(const SampleRing &) = delete;
    SampleRing &operator=(const SampleRing &) = delete;
    ~SampleRing();

    size_t capacity() const { return capacity_; }

    // ---- Producer (the acquisition thread) ----
    // Appends samples; false once the ring is stopped (the acquisition should end). When a
    // packet does not fit, waits for room or drops it as an overflow gap (see above).
    bool push(const uint16_t *samples, size_t count);
    // Records `lost` samples missing before the next sample pushed.
    void add_gap(uint64_t lost, int32_t kind);
    // Records `lost` samples missing before ring position `at` (pushed while held back).
    void add_gap_at(uint64_t at, uint64_t lost, int32_t kind);
    // Ring position of the next sample pushed.
    uint64_t written() const { return written_.load(std::memory_order_relaxed); }
    // Holds back what is pushed from now on from the reader, until publish(): the samples after a
    // detector-reported loss wait until the loss's size is known.
    void hold();
    void publish();
    // The acquisition ended; status and message describe why (0: stopped as asked).
    void finish(int status, const char *message);
    // Stream position of the next sample pushed (lost samples counted).
    uint64_t stream_end() const;

    // ---- Any thread ----
    // Records a setting change taking effect at the next sample pushed.
    void add_change(const char *name, double value);
    // Ends the acquisition at the next push and wakes every waiter.
    void stop();
    bool stopped() const;
    // The acquisition has ended (its samples may still be unread).
    bool finished() const;
    // Samples lost since start (gaps recorded so far).
    uint64_t lost_total() const;

    // ---- Consumer (the reading thread) ----
    // Waits until `wanted` samples (at most half the ring) are readable, up to timeout_ms
    // (negative: no limit), polling `interrupted` (may be null) every few tens of milliseconds.
    // Returns ready also when fewer than wanted are there as the time-out passes. The producer
    // wakes the reader only once its samples are there, not at every packet.
    Wait wait_readable(size_t wanted, int32_t timeout_ms, bool (*interrupted)());
    // The run of readable samples at the read position (empty when there is none), with the
    // marks at its start; those marks are handed out once.
    RingPiece take();
    // Frees `count` samples at the read position (at most the last piece's count).
    void release(size_t count);
    // Why the acquisition ended, once it has and everything pushed has been read.
    bool drained(int &status, const char *&message) const;

  private:
    struct Mark {
        uint64_t ring_position;
        bool is_gap;
        zv_gap gap;
        zv_setting_change change;
    };
    size_t free_space() const;
    void add_mark(Mark mark);
    void publish_locked();

    const size_t capacity_;
    const bool wait_for_reader_;
    std::unique_ptr<uint16_t, void (*)(uint16_t *)> data_;

    // Producer side: written by the producer only.
    std::atomic<uint64_t> written_{0};
    uint64_t lost_written_ = 0; // lost samples recorded up to written_
    bool held_ = false;
    // Consumer side.
    std::atomic<uint64_t> released_{0};
    uint64_t read_lost_ = 0; // lost samples before the read position

    mutable std::mutex mutex_;
    std::condition_variable readable_, writable_;
    uint64_t published_ = 0;
    // What a waiting reader waits for (0: nobody waits).
    size_t reader_wants_ = 0;
    std::deque<Mark> marks_;
    // An overflow in progress: consecutive dropped packets make one gap.
    bool overflowing_ = false;
    uint64_t lost_total_ = 0;
    bool stopped_ = false;
    bool finished_ = false;
    int status_ = 0;
    const char *message_ = "";
};

} // namespace zv
