// The ADC's register file as the firmware reaches it: writes land in the registers at once, but
// the test-pattern settings (register 13 and the user pattern in 25..28) take effect only when
// the commit register 255 is written with 1.
#pragma once

#include <array>
#include <cstdint>
#include <map>

#include "sim/firmware/test_pattern.h"

namespace zvsim {

namespace adc_register {
constexpr uint8_t kClockDivide = 11;
constexpr uint8_t kTestPattern = 13;
constexpr uint8_t kUserPattern1Low = 25;  // pattern bits 5..0 in data bits 7..2
constexpr uint8_t kUserPattern1High = 26; // pattern bits 13..6
constexpr uint8_t kUserPattern2Low = 27;
constexpr uint8_t kUserPattern2High = 28;
constexpr uint8_t kCommit = 255;
} // namespace adc_register

class AdcRegisters {
  public:
    void write(uint8_t reg, uint16_t value);
    // The register's current 8-bit content (0 until written).
    uint8_t read(uint8_t reg) const { return current_[reg]; }
    // Every register written, with the last value as sent.
    const std::map<uint8_t, uint16_t> &written() const { return written_; }
    // The test pattern in effect (as of the last commit).
    const TestPattern &pattern() const { return pattern_; }
    void reset();

  private:
    std::array<uint8_t, 256> current_ = {};
    std::map<uint8_t, uint16_t> written_;
    TestPattern pattern_;
};

} // namespace zvsim
