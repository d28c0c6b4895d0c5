// The in-process adapter: one open handle on a simulated detector, as the transport's record
// handle sees a device. Control requests are answered inside the call; isochronous transfers are
// queued and served, in order, from pump(), which the transport's waiters call (there are no
// threads). In real-time mode the detector samples into its FIFO at its sample rate from the
// moment the host selects the streaming alternate setting: a transfer completes once the FIFO
// holds its samples, and samples that find the FIFO full while the host has no transfer queued are
// dropped (the firmware then sends the data-loss marker). Transfers are served lazily, when the
// host next waits, but each as of the moment it would have been served.
#pragma once

#include <chrono>
#include <deque>
#include <memory>

#include "sim/firmware/sample_fifo.h"
#include "sim/simulator.h"
#include "usb/backend_device.h"

namespace zvsim {

class SimBackendDevice : public zvusb::BackendDevice {
  public:
    explicit SimBackendDevice(std::shared_ptr<SimulatedDetector> detector);
    // Completes every transfer still queued as cancelled.
    ~SimBackendDevice() override;

    void control(const zvusb::ControlSetup &setup, uint8_t *data, uint32_t timeout_ms,
                 zvusb::Completion done) override;
    void transfer(uint8_t endpoint, uint8_t *buffer, uint32_t length, zvusb::IsoPacketInfo *packets,
                  uint32_t npackets, uint32_t max_packet_size, zvusb::Completion done) override;
    void abort(uint8_t endpoint) override;
    uint32_t reset_endpoint(uint8_t endpoint) override;
    uint32_t alt_setting(uint8_t *alt) override;
    uint32_t set_alt_setting(uint8_t alt) override;
    uint32_t speed() override;
    uint8_t address() override;
    std::string name() override;
    uint32_t max_packet_size(uint8_t endpoint) override;
    bool paced_by_host() override { return !detector_->config_.realtime; }
    void pump(uint32_t timeout_ms) override;

  private:
    using Clock = std::chrono::steady_clock;

    struct Pending {
        uint8_t endpoint;
        uint8_t *buffer;
        uint32_t length;
        zvusb::IsoPacketInfo *packets;
        uint32_t npackets;
        uint32_t packet_size;
        zvusb::Completion done;
        Clock::time_point queued;
        Clock::time_point due;
        uint64_t samples = 0; // taken from the FIFO (real-time mode)
        bool cancelled = false;
        bool hung = false; // an injected time-out: served never, cancelled eventually
    };
    struct Finished {
        zvusb::Completion done;
        uint32_t usb_status, error, bytes;
    };

    // Takes every queued transfer that can complete now off the queue (detector mutex held).
    void collect(std::vector<Finished> &finished, Clock::time_point now);
    // Fills a transfer; false when an injected time-out keeps it outstanding.
    bool serve(Pending &p, std::vector<Finished> &finished);
    // serve, except that a transfer the firmware model cannot serve for want of memory stays
    // queued; false unless it was served.
    bool serve_or_defer(Pending &p, std::vector<Finished> &finished);
    // Real-time mode: drops what overflowed the FIFO before the detector turned to `p`, sets
    // p.due to when its samples are in the FIFO and tells whether that is no later than `now`.
    bool due_now(Pending &p, Clock::time_point now);
    // Samples the ADC has written by `t`, and when it has written `count` of them.
    uint64_t written_by(Clock::time_point t) const;
    Clock::time_point time_of(uint64_t count) const;
    // When the next transfer in the queue falls due (real-time mode), or never.
    Clock::time_point next_due() const;
    void cancel_all();

    std::shared_ptr<SimulatedDetector> detector_;
    // Guarded by the detector's mutex:
    std::deque<Pending> queue_;
    double samplerate_;
    Clock::time_point collection_start_; // the streaming setting was selected
    Clock::time_point last_completion_;  // the last transfer served was complete
    SampleFifo fifo_;
};

} // namespace zvsim
