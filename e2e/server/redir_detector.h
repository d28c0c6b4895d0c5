// A simulated HLM25 served over the usbredir protocol: this program plays the "USB host" side of
// the protocol (the side that owns a device) and QEMU's usb-redir device the other, so the
// firmware model appears to the virtual machine as a detector on its USB bus. Control requests go
// to the firmware as they are; configuration and alternate settings are answered by the
// firmware's standard requests; the stream endpoint is paced by the wall clock. The detector can
// be unplugged and plugged in again (a fresh power-up) on the schedule of its table entry.
#pragma once

#include <csignal>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include <usbredirparser.h>

#include "e2e/server/packet_schedule.h"
#include "e2e/server/server_settings.h"
#include "e2e/server/stream_packets.h"
#include "sim/firmware/firmware.h"

namespace zve2e {

class RedirDetector {
  public:
    // Throws std::invalid_argument when the settings cannot be served.
    explicit RedirDetector(const ServerSettings &settings);
    ~RedirDetector();
    RedirDetector(const RedirDetector &) = delete;
    RedirDetector &operator=(const RedirDetector &) = delete;

    // Serves the peer on the connected socket `fd` until it closes the connection or `stop` is
    // set. Returns false when the connection failed.
    bool serve(int fd, const volatile std::sig_atomic_t &stop);

  private:
    void power_up();
    void plug();
    void unplug(double now);
    void send_endpoint_info();
    void stream(double now);
    void stop_stream();
    int poll_timeout_ms(double now) const;

    // Parser callbacks.
    void on_hello();
    void on_reset();
    void on_control(uint64_t id, usb_redir_control_packet_header *h, uint8_t *data, int len);
    void on_set_configuration(uint64_t id, uint8_t configuration);
    void on_get_configuration(uint64_t id);
    void on_set_alt_setting(uint64_t id, uint8_t interface, uint8_t alt);
    void on_get_alt_setting(uint64_t id, uint8_t interface);
    void on_start_iso_stream(uint64_t id, const usb_redir_start_iso_stream_header *h);
    void on_stop_iso_stream(uint64_t id, uint8_t endpoint);
    void on_disconnect_ack();
    void on_cancel(uint64_t id);
    static void install_callbacks(usbredirparser *p);

    int read_socket(uint8_t *data, int count);
    int write_socket(uint8_t *data, int count);

    ServerSettings settings_;
    zvsim::DetectorConfig config_;
    std::unique_ptr<zvsim::Firmware> firmware_;
    std::unique_ptr<StreamPackets> packets_;
    PacketSchedule schedule_;
    uint32_t samples_per_packet_;
    usbredirparser *parser_ = nullptr;
    int fd_ = -1;
    bool peer_closed_ = false;

    bool plugged_ = false;
    bool awaiting_disconnect_ack_ = false;
    double replug_at_ = 0; // 0: no plug pending
    uint8_t configuration_ = 1;
    uint32_t collection_ = 0; // collections since the detector was plugged in
    bool streaming_ = false;
    uint32_t collection_packets_ = 0;
    uint64_t iso_id_ = 0;
    // Control requests left unanswered (the host cancels them when it gives up).
    std::vector<std::pair<uint64_t, usb_redir_control_packet_header>> unanswered_;

    // For the log.
    uint64_t requests_ = 0, stalls_ = 0, packets_sent_ = 0;
};

} // namespace zve2e
