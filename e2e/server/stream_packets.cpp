#include "e2e/server/stream_packets.h"

#include <algorithm>

#include "e2e/detectors.h"

namespace zve2e {

StreamPackets::StreamPackets(zvsim::Firmware &firmware, uint32_t samples_per_packet)
    : firmware_(firmware), packet_bytes_(2 * samples_per_packet) {}

bool StreamPackets::fill() {
    const zvsim::TransferFaults faults =
        firmware_.stream_faults().for_transfer(firmware_.collection_transfers());
    uint32_t bytes = packet_bytes_;
    for (const auto &f : faults.packets)
        if (f.kind == zvsim::StreamFault::data_loss)
            bytes = std::max(bytes, 2 * kMarkerPacketSamples);
    bytes = std::min(bytes, firmware_.descriptors().stream_packet_size());
    // Two spare bytes: a packet may report more than it holds (the bad-length fault).
    buffer_.assign(size_t(bytes) * kPacketsPerTransfer + 2, 0);
    const zvsim::StreamResult result = firmware_.stream_transfer(
        zvsim::kStreamEndpoint, buffer_.data(), bytes * kPacketsPerTransfer, bytes, results_.data(),
        kPacketsPerTransfer);
    if (result == zvsim::StreamResult::rejected) return false;
    transfer_sent_ = result != zvsim::StreamResult::never_completes;
    transfer_packet_bytes_ = bytes;
    next_ = 0;
    return true;
}

bool StreamPackets::next(StreamPacket &packet) {
    if (next_ == kPacketsPerTransfer && !fill()) return false;
    const zvsim::PacketResult &r = results_[next_];
    const size_t start = size_t(next_) * transfer_packet_bytes_;
    packet.sent = transfer_sent_;
    packet.error = r.error;
    packet.data = buffer_.data() + start;
    packet.length = uint32_t(std::min<size_t>(r.length, buffer_.size() - start));
    ++next_;
    return true;
}

} // namespace zve2e
