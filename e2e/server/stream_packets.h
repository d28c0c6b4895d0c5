// The packets of the stream endpoint, filled by the firmware model a transfer of
// kPacketsPerTransfer packets at a time, so that its stream faults (counted in transfers) apply as
// they do in process. Packets carry the configured number of samples; a transfer with a
// data-loss fault carries enough for the marker.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/firmware/firmware.h"

namespace zve2e {

constexpr uint32_t kPacketsPerTransfer = 16;

struct StreamPacket {
    bool sent;  // false: nothing goes out in this service interval
    bool error; // the packet arrives with an error status
    const uint8_t *data;
    uint32_t length; // bytes
};

class StreamPackets {
  public:
    StreamPackets(zvsim::Firmware &firmware, uint32_t samples_per_packet);

    // The next packet of the stream; false when the firmware does not stream (the streaming
    // alternate setting is not selected). The data stays valid until the next call.
    bool next(StreamPacket &packet);
    // Forgets the packets filled but not yet taken (the collection ended).
    void discard() { next_ = kPacketsPerTransfer; }

  private:
    bool fill();

    zvsim::Firmware &firmware_;
    uint32_t packet_bytes_;
    uint32_t transfer_packet_bytes_ = 0;
    std::vector<uint8_t> buffer_;
    std::array<zvsim::PacketResult, kPacketsPerTransfer> results_{};
    bool transfer_sent_ = true;
    uint32_t next_ = kPacketsPerTransfer;
};

} // namespace zve2e
