// Builds descriptor tables byte by byte for the tests, so that good and malformed tables can be
// served by the fake device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zvtest {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes &b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

inline Bytes device_descriptor(uint16_t bcd_usb, uint16_t vendor, uint16_t product,
                               uint8_t max_packet0 = 64, uint8_t configurations = 1,
                               uint8_t manufacturer = 1, uint8_t prod = 2, uint8_t serial = 3) {
    Bytes b = {18, 1};
    put16(b, bcd_usb);
    b.insert(b.end(), {0, 0, 0, max_packet0});
    put16(b, vendor);
    put16(b, product);
    put16(b, 0x0100);
    b.insert(b.end(), {manufacturer, prod, serial, configurations});
    return b;
}

inline Bytes string_descriptor(const std::u16string &text) {
    Bytes b = {uint8_t(2 + 2 * text.size()), 3};
    for (char16_t c : text)
        put16(b, uint16_t(c));
    return b;
}

inline Bytes language_descriptor(const std::vector<uint16_t> &languages) {
    Bytes b = {uint8_t(2 + 2 * languages.size()), 3};
    for (uint16_t l : languages)
        put16(b, l);
    return b;
}

// A configuration table; build() fills in wTotalLength and bNumInterfaces.
class ConfigBuilder {
  public:
    ConfigBuilder &interface(uint8_t number, uint8_t alt, uint8_t endpoints) {
        body_.insert(body_.end(), {9, 4, number, alt, endpoints, 0xFF, 0, 0, 0});
        if (alt == 0) ++interfaces_;
        return *this;
    }
    ConfigBuilder &endpoint(uint8_t address, uint8_t attributes, uint16_t max_packet,
                            uint8_t interval = 1) {
        body_.insert(body_.end(), {7, 5, address, attributes});
        put16(body_, max_packet);
        body_.push_back(interval);
        return *this;
    }
    ConfigBuilder &companion(uint8_t max_burst, uint8_t attributes, uint16_t bytes_per_interval) {
        body_.insert(body_.end(), {6, 48, max_burst, attributes});
        put16(body_, bytes_per_interval);
        return *this;
    }
    ConfigBuilder &raw(const Bytes &bytes) {
        body_.insert(body_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Bytes build() const {
        Bytes b = {9, 2};
        put16(b, uint16_t(9 + body_.size()));
        b.insert(b.end(), {interfaces_, 1, 0, 0x80, 50});
        b.insert(b.end(), body_.begin(), body_.end());
        return b;
    }

  private:
    Bytes body_;
    uint8_t interfaces_ = 0;
};

// A BOS table; build() fills in wTotalLength and bNumDeviceCaps.
class BosBuilder {
  public:
    BosBuilder &usb20_extension(uint32_t attributes) {
        body_.insert(body_.end(), {7, 16, 2});
        put16(body_, uint16_t(attributes));
        put16(body_, uint16_t(attributes >> 16));
        ++count_;
        return *this;
    }
    BosBuilder &superspeed(uint16_t speeds) {
        body_.insert(body_.end(), {10, 16, 3, 0});
        put16(body_, speeds);
        body_.insert(body_.end(), {1, 10, 0, 1});
        ++count_;
        return *this;
    }
    BosBuilder &container_id(uint8_t fill) {
        body_.insert(body_.end(), {20, 16, 4, 0});
        body_.insert(body_.end(), 16, fill);
        ++count_;
        return *this;
    }
    BosBuilder &raw(const Bytes &bytes, int caps) {
        body_.insert(body_.end(), bytes.begin(), bytes.end());
        count_ += caps;
        return *this;
    }
    Bytes build() const {
        Bytes b = {5, 15};
        put16(b, uint16_t(5 + body_.size()));
        b.push_back(uint8_t(count_));
        b.insert(b.end(), body_.begin(), body_.end());
        return b;
    }

  private:
    Bytes body_;
    int count_ = 0;
};

// The detector's usual table: interface 0 with alternate setting 0 (no endpoints) and 1 (the
// isochronous IN endpoint 0x83 of `packet` bytes).
inline Bytes detector_configuration(uint16_t packet = 1024) {
    return ConfigBuilder()
        .interface(0, 0, 0)
        .interface(0, 1, 1)
        .endpoint(0x83, 0x01, packet)
        .build();
}

} // namespace zvtest
