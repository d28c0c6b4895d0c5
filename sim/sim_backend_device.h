// The in-process adapter: one open handle on a simulated detector, as the transport's record
// handle sees a device. Control requests are answered inside the call; isochronous transfers are
// queued and served, in order, from pump(), which the transport's waiters call (there are no
// threads). In real-time mode a transfer is not served before its samples would have been
// sampled at the detector's rate.
#pragma once

#include <chrono>
#include <deque>
#include <memory>

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
        Clock::time_point due;
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
    // When the next transfer in the queue falls due (real-time mode), or never.
    Clock::time_point next_due() const;
    void cancel_all();

    std::shared_ptr<SimulatedDetector> detector_;
    std::deque<Pending> queue_; // guarded by the detector's mutex
    Clock::time_point last_due_;
};

} // namespace zvsim
