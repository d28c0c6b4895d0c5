// A continuous acquisition: the acquisition engine kept running on a thread of its own, feeding a
// ring buffer that a reader empties at its own pace. One may run on a detector at a time; while it
// runs, the detector record points to it, so that the detector's settings can be noted in the
// samples and one-shot collections refused.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "libzv.h"
#include "loss_clock.h"
#include "sample_ring.h"

namespace zv {

class ContinuousAcquisition {
  public:
    // Samples per packet and the device's pacing decide the ring and loss accounting; see start.
    ContinuousAcquisition(const ContinuousAcquisition &) = delete;
    ContinuousAcquisition &operator=(const ContinuousAcquisition &) = delete;
    // Stops the acquisition if it still runs.
    ~ContinuousAcquisition();

    // Starts streaming from dev with a ring of buffer_seconds of samples. Null with the error
    // stored when the detector already streams, reports no sample rate, or memory runs out.
    static std::unique_ptr<ContinuousAcquisition> start(zv_device *dev, double buffer_seconds);

    SampleRing &ring() { return ring_; }
    double samplerate() const { return clock_.samplerate(); }
    // UNIX time at which stream position `position` was sampled.
    double unix_time_of(uint64_t position);
    // Ends streaming, waits for the thread and leaves the detector idle. Idempotent.
    void stop();
    // The detector record is being closed under a running stream: stop, and forget the record.
    void detach_device();
    bool device_attached() const { return dev_.load() != nullptr; }

  private:
    ContinuousAcquisition(zv_device *dev, size_t capacity, bool paced_by_host, double samplerate);
    void run();
    // The engine's sink.
    static int sink(const uint16_t *samples, int count, int data_lost, void *user);
    int on_packet(const uint16_t *samples, int count, bool data_lost);
    // Records a detector-reported loss with the size the arrivals since showed, and lets the
    // reader have the samples held back behind it.
    void settle_loss();

    // Null once the record was closed under the stream (detach_device).
    std::atomic<zv_device *> dev_;
    const bool paced_by_host_;
    // The largest packet seen (samples): a reported loss took at least one packet.
    uint32_t packet_samples_ = 0;
    SampleRing ring_;
    LossClock clock_; // producer's; unix_time_of reads it under clock_mutex_
    std::mutex clock_mutex_;
    double unix_offset_; // UNIX time minus steady-clock time, taken at start
    // The last time handed out, for the position it was handed out for.
    bool have_reported_ = false;
    uint64_t reported_position_ = 0;
    double reported_time_ = 0;

    // A detector-reported loss waiting for its size: samples after it are held back.
    struct PendingLoss {
        bool active = false;
        uint64_t stream_start = 0;  // stream position of the first missing sample
        uint64_t ring_position = 0; // ring position of the first sample after the loss
        uint64_t delivered = 0;     // samples pushed since
        int arrivals = 0;           // packets seen since
        double smallest = 0;        // the smallest estimate of the missing count so far
    } pending_;

    std::atomic<bool> stop_requested_{false};
    std::mutex stop_mutex_;
    std::thread thread_;
    bool joined_ = false;
};

} // namespace zv
