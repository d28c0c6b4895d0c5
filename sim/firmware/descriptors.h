// The standard descriptors of a simulated HLM25: device, configuration (interface 0 with
// alternate setting 0 without endpoints and alternate setting 1 with the isochronous IN stream
// endpoint), strings, and for SuperSpeed the endpoint companion and the BOS. Any descriptor can be
// replaced by raw bytes to serve malformed tables.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/firmware/detector_config.h"
#include "usb/usb_standard.h"

namespace zvsim {

namespace descriptor_type = usb_standard::descriptor_type;

constexpr uint8_t kStreamEndpoint = 0x83;
constexpr uint8_t kStreamAltSetting = 1;
constexpr uint8_t kAltSettingCount = 2;
constexpr uint16_t kLanguageEnglishUs = 0x0409;

// Bytes one service interval of an isochronous endpoint carries: the base size times the
// high-bandwidth transactions, and with a SuperSpeed companion times the burst and the mult.
uint32_t isochronous_packet_size(uint16_t w_max_packet_size, bool has_companion, uint8_t max_burst,
                                 uint8_t companion_attributes);

class DescriptorSet {
  public:
    // `serial` is the text of the serial string (the identity block's serial).
    DescriptorSet(const DetectorConfig &config, const std::string &serial);

    // The descriptor answered for (type, index), the override when one is set; null when the
    // device has none (the request stalls). String descriptors are the same in every language.
    const std::vector<uint8_t> *find(uint8_t type, uint8_t index) const;

    void override_descriptor(uint8_t type, uint8_t index, std::vector<uint8_t> bytes);
    void clear_overrides() { overrides_.clear(); }

    // Bytes per packet of the stream endpoint, from the descriptors as built.
    uint32_t stream_packet_size() const { return stream_packet_size_; }

  private:
    static uint16_t key(uint8_t type, uint8_t index) { return uint16_t(type << 8 | index); }

    std::map<uint16_t, std::vector<uint8_t>> built_;
    std::map<uint16_t, std::vector<uint8_t>> overrides_;
    uint32_t stream_packet_size_ = 0;
};

} // namespace zvsim
