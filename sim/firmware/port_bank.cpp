#include "sim/firmware/port_bank.h"

#include <algorithm>
#include <limits>

#include "usb/byte_order.h"

namespace zvsim {

namespace {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
constexpr uint64_t kDefaultSamplerate = 80000000;

uint16_t port_bit(uint8_t port) {
    return port == kPortS ? 0x4000 : 0x8000;
}

} // namespace

PortRecord decode_port_record(const PortRecordBytes &bytes) {
    return {bytes[0], bytes[1], zvusb::get_le32(&bytes[2]), zvusb::get_le32(&bytes[6])};
}

PortBank::PortBank(uint32_t samplerate)
    : samplerate_(samplerate == 0 || samplerate == 0xFFFFFFFFu ? kDefaultSamplerate : samplerate) {}

bool PortBank::command(uint8_t port, const PortRecordBytes &record, uint64_t now) {
    using namespace port_mode;
    const uint8_t mode = record[0];
    if (port >= kPortCount) return false;
    if (mode != kInput && mode != kDrive && mode != kSquareWave && mode != kPulse) return false;
    ports_[port].record = record;
    if (mode == kPulse) ports_[port].pulse_start = clock_at(now);
    return true;
}

void PortBank::reset() {
    ports_ = {};
}

// Both conversions take the 64-bit path while the products fit (the first thousand seconds or
// so of streaming), and wide arithmetic after that.
uint64_t PortBank::clock_at(uint64_t sample) const {
    if (sample <= kNever / kDeviceClockHz) return sample * kDeviceClockHz / samplerate_;
    return uint64_t((unsigned __int128)sample * kDeviceClockHz / samplerate_);
}

uint64_t PortBank::first_sample_at_clock(uint64_t clock) const {
    if (clock <= (kNever - kDeviceClockHz) / samplerate_)
        return (clock * samplerate_ + kDeviceClockHz - 1) / kDeviceClockHz;
    unsigned __int128 scaled = (unsigned __int128)clock * samplerate_ + kDeviceClockHz - 1;
    unsigned __int128 sample = scaled / kDeviceClockHz;
    return sample > kNever ? kNever : uint64_t(sample);
}

PortBank::Span PortBank::span(uint8_t port, uint64_t sample) const {
    const Port &p = ports_[port];
    const PortRecord r = decode_port_record(p.record);
    switch (r.mode) {
    case port_mode::kDrive:
        return {r.level ? 1 : 0, kNever};
    case port_mode::kSquareWave: {
        if (r.period == 0) return {r.threshold > 0 ? 1 : 0, kNever};
        if (r.threshold >= r.period) return {1, kNever};
        const uint64_t clock = clock_at(sample);
        const uint64_t start = clock - clock % r.period;
        const bool high = clock - start < r.threshold;
        return {high ? 1 : 0, first_sample_at_clock(start + (high ? r.threshold : r.period))};
    }
    case port_mode::kPulse: {
        const uint64_t clock = clock_at(sample);
        const uint64_t end = p.pulse_start + r.threshold;
        if (clock < p.pulse_start) return {0, first_sample_at_clock(p.pulse_start)};
        if (clock < end) return {1, first_sample_at_clock(end)};
        return {0, kNever};
    }
    default: // input
        if (p.input != kInputFromStream) return {p.input ? 1 : 0, kNever};
        if (port == kPortS || port == kPortT) return {kInputFromStream, kNever};
        return {0, kNever};
    }
}

uint8_t PortBank::level(uint8_t port, uint64_t now, uint16_t word) const {
    const Span s = span(port, now);
    if (s.level == kInputFromStream) return (word & port_bit(port)) ? 1 : 0;
    return uint8_t(s.level);
}

void PortBank::apply_port(uint8_t port, uint16_t *words, size_t n, uint64_t first) const {
    const uint16_t bit = port_bit(port);
    size_t i = 0;
    while (i < n) {
        const Span s = span(port, first + i);
        const size_t end = s.until - first >= n ? n : size_t(s.until - first);
        if (s.level == 1) {
            for (size_t k = i; k < end; ++k)
                words[k] = uint16_t(words[k] | bit);
        } else if (s.level == 0) {
            for (size_t k = i; k < end; ++k)
                words[k] = uint16_t(words[k] & ~bit);
        }
        i = std::max(end, i + 1);
    }
}

void PortBank::apply(uint16_t *words, size_t n, uint64_t first) const {
    apply_port(kPortS, words, n, first);
    apply_port(kPortT, words, n, first);
}

} // namespace zvsim
