// The seven logic ports and LEDs. Each keeps the last command record it was sent (mode, level,
// period, threshold) and produces a level over time: input (the input level), drive (the driven
// level), square wave (high for `threshold` of every `period` device clocks) or pulse (high for
// `threshold` clocks from the command on). Time is the absolute sample number of the stream,
// converted to device clocks of 5 ns through the sample rate. Ports S and T are carried in bits 14
// and 15 of every sample; while they are inputs those bits come from the streamed words unless an
// input level is set.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zvsim {

constexpr uint8_t kPortCount = 7;
constexpr uint8_t kPortS = 2;
constexpr uint8_t kPortT = 3;
constexpr size_t kPortRecordSize = 10;
constexpr uint64_t kDeviceClockHz = 200000000;

namespace port_mode {
constexpr uint8_t kInput = 0;
constexpr uint8_t kDrive = 1;
constexpr uint8_t kSquareWave = 4;
constexpr uint8_t kPulse = 5;
} // namespace port_mode

using PortRecordBytes = std::array<uint8_t, kPortRecordSize>;

struct PortRecord {
    uint8_t mode = 0;
    uint8_t level = 0;
    uint32_t period = 0;
    uint32_t threshold = 0;
};

PortRecord decode_port_record(const PortRecordBytes &bytes);

// Input level of a port that follows the outside world (the sample words for S and T, 0 for the
// others).
constexpr int kInputFromStream = -1;

class PortBank {
  public:
    // `samplerate` converts sample numbers to device clocks; 0 or "not set" counts as 80 MS/s.
    explicit PortBank(uint32_t samplerate);

    // Takes a command record for `port`, sent when `now` is the next sample's number. False (and
    // nothing changed) for a port above 6 or an unknown mode.
    bool command(uint8_t port, const PortRecordBytes &record, uint64_t now);
    const PortRecordBytes &record(uint8_t port) const { return ports_[port].record; }

    // Input level: 0, 1 or kInputFromStream.
    void set_input(uint8_t port, int level) { ports_[port].input = level; }
    int input(uint8_t port) const { return ports_[port].input; }

    // The level a read of `port` answers at sample `now`, whose streamed word is `word`.
    uint8_t level(uint8_t port, uint64_t now, uint16_t word) const;
    // Writes the levels of S and T into bits 14 and 15 of words[0..n), the first being absolute
    // sample number `first`.
    void apply(uint16_t *words, size_t n, uint64_t first) const;

    void reset();

  private:
    struct Port {
        PortRecordBytes record = {};
        int input = kInputFromStream;
        uint64_t pulse_start = 0; // device clock at which the pulse began
    };
    struct Span {
        int level;      // 0, 1, or kInputFromStream (leave the words as they are)
        uint64_t until; // first sample number at which the level may change
    };

    uint64_t clock_at(uint64_t sample) const;
    uint64_t first_sample_at_clock(uint64_t clock) const;
    Span span(uint8_t port, uint64_t sample) const;
    void apply_port(uint8_t port, uint16_t *words, size_t n, uint64_t first) const;

    uint64_t samplerate_;
    std::array<Port, kPortCount> ports_;
};

} // namespace zvsim
