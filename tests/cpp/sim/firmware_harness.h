// Drives a Firmware the way a host would: vendor and standard control requests, alternate
// settings and isochronous transfers of the stream endpoint.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/firmware/firmware.h"

namespace zvsim::testing {

struct Answer {
    bool stalled;
    std::vector<uint8_t> data;
};

inline Answer vendor_in(Firmware &fw, uint8_t request, uint16_t value, uint16_t index,
                        uint16_t length) {
    std::vector<uint8_t> buffer(length, 0xEE);
    ControlResult r = fw.control({0xC0, request, value, index, length}, buffer.data());
    buffer.resize(r.length);
    return {r.stalled, buffer};
}

inline bool vendor_out(Firmware &fw, uint8_t request, uint16_t value, uint16_t index,
                       std::vector<uint8_t> data = {}) {
    ControlResult r = fw.control({0x40, request, value, index, uint16_t(data.size())}, data.data());
    return !r.stalled;
}

inline Answer get_descriptor(Firmware &fw, uint8_t type, uint8_t index, uint16_t length,
                             uint16_t language = 0) {
    std::vector<uint8_t> buffer(length);
    ControlResult r =
        fw.control({0x80, 6, uint16_t(type << 8 | index), language, length}, buffer.data());
    buffer.resize(r.length);
    return {r.stalled, buffer};
}

// One transfer of `npackets` packets of the device's packet size.
struct Transfer {
    StreamResult result;
    std::vector<uint16_t> words; // npackets * packet size / 2
    std::vector<PacketResult> packets;
    // The samples of packet k.
    const uint16_t *packet(size_t k) const {
        return words.data() + k * words.size() / packets.size();
    }
    size_t samples_per_packet() const { return words.size() / packets.size(); }
};

inline Transfer stream(Firmware &fw, uint32_t npackets = 16, uint8_t endpoint = 0x83) {
    const uint32_t p = fw.descriptors().stream_packet_size();
    Transfer t{StreamResult::rejected, std::vector<uint16_t>(size_t(npackets) * p / 2, 0xDEAD),
               std::vector<PacketResult>(npackets)};
    t.result = fw.stream_transfer(endpoint, reinterpret_cast<uint8_t *>(t.words.data()),
                                  npackets * p, p, t.packets.data(), npackets);
    return t;
}

inline std::vector<uint8_t> port_record(uint8_t mode, uint8_t level, uint32_t period,
                                        uint32_t threshold) {
    std::vector<uint8_t> r = {mode, level};
    for (uint32_t v : {period, threshold})
        for (int i = 0; i < 4; ++i)
            r.push_back(uint8_t(v >> (8 * i)));
    return r;
}

} // namespace zvsim::testing
