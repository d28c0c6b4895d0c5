#include "sim/firmware/descriptors.h"

#include "usb/byte_order.h"

namespace zvsim {

namespace {

// How the stream endpoint is announced at each speed. SuperSpeed: 1024-byte packets, bursts of
// 16 and three bursts per interval (49152 bytes, 24576 samples, so a packet can carry the
// data-loss marker). High speed: 1024 bytes in three transactions per microframe.
struct SpeedProfile {
    uint16_t bcd_usb;
    uint8_t ep0_max_packet; // bMaxPacketSize0 (an exponent of 2 at SuperSpeed)
    uint16_t w_max_packet_size;
    bool has_companion;
    uint8_t max_burst;
    uint8_t companion_attributes; // Mult in bits 1..0
};

constexpr SpeedProfile kSuperSpeed = {0x0300, 9, 0x0400, true, 15, 2};
constexpr SpeedProfile kHighSpeed = {0x0200, 64, 0x1400, false, 0, 0};

constexpr uint8_t kManufacturerIndex = 1;
constexpr uint8_t kProductIndex = 2;
constexpr uint8_t kSerialIndex = 3;

void put16(std::vector<uint8_t> &d, uint16_t v) {
    d.resize(d.size() + 2);
    zvusb::put_le16(d.data() + d.size() - 2, v);
}

void put32(std::vector<uint8_t> &d, uint32_t v) {
    d.resize(d.size() + 4);
    zvusb::put_le32(d.data() + d.size() - 4, v);
}

void set16(std::vector<uint8_t> &d, size_t at, uint16_t v) {
    zvusb::put_le16(d.data() + at, v);
}

// Text bytes become UTF-16 code units one for one (Latin-1).
std::vector<uint8_t> string_descriptor(const std::string &text) {
    std::vector<uint8_t> d = {uint8_t(2 + 2 * text.size()), descriptor_type::kString};
    for (unsigned char c : text)
        put16(d, c);
    return d;
}

std::vector<uint8_t> device_descriptor(const DetectorConfig &c, const SpeedProfile &s) {
    std::vector<uint8_t> d = {18, descriptor_type::kDevice};
    put16(d, s.bcd_usb);
    d.insert(d.end(), {0, 0, 0, s.ep0_max_packet}); // class defined by the interface
    put16(d, c.vendor);
    put16(d, c.product);
    // bcdDevice carries the firmware version: 1.0.2 -> 0x0102.
    put16(d, uint16_t(c.firmware[0] << 8 | (c.firmware[1] & 0xF) << 4 | (c.firmware[2] & 0xF)));
    d.insert(d.end(), {kManufacturerIndex, kProductIndex, kSerialIndex, 1});
    return d;
}

void put_interface(std::vector<uint8_t> &d, uint8_t alt, uint8_t endpoints) {
    d.insert(d.end(), {9, descriptor_type::kInterface, 0, alt, endpoints, 0xFF, 0, 0, 0});
}

std::vector<uint8_t> configuration_descriptor(const SpeedProfile &s) {
    std::vector<uint8_t> d = {9, descriptor_type::kConfiguration, 0, 0, 1, 1, 0, 0x80, 50};
    put_interface(d, 0, 0);
    put_interface(d, kStreamAltSetting, 1);
    d.insert(d.end(), {7, descriptor_type::kEndpoint, kStreamEndpoint, 0x01}); // isochronous
    put16(d, s.w_max_packet_size);
    d.push_back(1); // bInterval: every (micro)frame
    if (s.has_companion) {
        d.insert(d.end(),
                 {6, descriptor_type::kSuperSpeedCompanion, s.max_burst, s.companion_attributes});
        put16(d, uint16_t(isochronous_packet_size(s.w_max_packet_size, true, s.max_burst,
                                                  s.companion_attributes)));
    }
    set16(d, 2, uint16_t(d.size()));
    return d;
}

// USB 2.0 extension (LPM), SuperSpeed capability and a container id derived from the serial.
std::vector<uint8_t> bos_descriptor(const std::string &serial) {
    std::vector<uint8_t> d = {5, descriptor_type::kBos, 0, 0, 3};
    d.insert(d.end(), {7, descriptor_type::kDeviceCapability, 0x02});
    put32(d, 0x00000002);
    d.insert(d.end(), {10, descriptor_type::kDeviceCapability, 0x03, 0});
    put16(d, 0x000E); // full, high and SuperSpeed
    d.insert(d.end(), {1, 0x0A});
    put16(d, 0x07FF);
    d.insert(d.end(), {20, descriptor_type::kDeviceCapability, 0x04, 0});
    uint32_t h = 2166136261u; // FNV-1a over the serial, spread over the 16 bytes
    for (int i = 0; i < 16; ++i) {
        h = (h ^ uint8_t(i < int(serial.size()) ? serial[i] : i)) * 16777619u;
        d.push_back(uint8_t(h >> 24));
    }
    set16(d, 2, uint16_t(d.size()));
    return d;
}

} // namespace

uint32_t isochronous_packet_size(uint16_t w_max_packet_size, bool has_companion, uint8_t max_burst,
                                 uint8_t companion_attributes) {
    uint32_t size = (w_max_packet_size & 0x7FFu) * (((w_max_packet_size >> 11) & 3u) + 1);
    if (has_companion) size *= (max_burst + 1u) * ((companion_attributes & 3u) + 1);
    return size;
}

DescriptorSet::DescriptorSet(const DetectorConfig &config, const std::string &serial) {
    const SpeedProfile &s = config.speed == Speed::super ? kSuperSpeed : kHighSpeed;
    built_[key(descriptor_type::kDevice, 0)] = device_descriptor(config, s);
    built_[key(descriptor_type::kConfiguration, 0)] = configuration_descriptor(s);
    std::vector<uint8_t> languages = {4, descriptor_type::kString};
    put16(languages, kLanguageEnglishUs);
    built_[key(descriptor_type::kString, 0)] = languages;
    built_[key(descriptor_type::kString, kManufacturerIndex)] =
        string_descriptor(config.manufacturer);
    built_[key(descriptor_type::kString, kProductIndex)] = string_descriptor(config.product_name);
    built_[key(descriptor_type::kString, kSerialIndex)] = string_descriptor(serial);
    if (s.has_companion) built_[key(descriptor_type::kBos, 0)] = bos_descriptor(serial);
    stream_packet_size_ = isochronous_packet_size(s.w_max_packet_size, s.has_companion, s.max_burst,
                                                  s.companion_attributes);
}

const std::vector<uint8_t> *DescriptorSet::find(uint8_t type, uint8_t index) const {
    auto o = overrides_.find(key(type, index));
    if (o != overrides_.end()) return &o->second;
    auto b = built_.find(key(type, index));
    return b == built_.end() ? nullptr : &b->second;
}

void DescriptorSet::override_descriptor(uint8_t type, uint8_t index, std::vector<uint8_t> bytes) {
    overrides_[key(type, index)] = std::move(bytes);
}

} // namespace zvsim
