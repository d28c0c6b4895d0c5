// The ADC's test patterns, which replace the ADC code (bits 13..0) of every sample:
// checkerboard (0x2AAA and 0x1555 alternating), PN9 (the 511-bit sequence of x^9 + x^5 + 1 from
// the all-ones state, cut into 14-bit words, most significant bit first) and the user pattern
// (the first and second user word alternating). Which word a sample gets depends on its absolute
// sample number, so the patterns run on seamlessly across packets and collections.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zvsim {

namespace test_pattern_code {
constexpr uint8_t kOff = 0;
constexpr uint8_t kCheckerboard = 4;
constexpr uint8_t kPn9 = 6;
constexpr uint8_t kUser = 8;
} // namespace test_pattern_code

constexpr uint16_t kCheckerboardEven = 0x2AAA;
constexpr uint16_t kCheckerboardOdd = 0x1555;
constexpr size_t kPn9Period = 511; // words; a multiple of the 73-word period of the cut sequence

// The PN9 word for absolute sample number n.
uint16_t pn9_word(uint64_t n);

class TestPattern {
  public:
    // `code` as written to register 13; codes other than the three patterns mean off.
    void configure(uint8_t code, uint16_t user1, uint16_t user2);
    uint8_t code() const { return code_; }
    bool active() const { return code_ != test_pattern_code::kOff; }

    // Replaces bits 13..0 of words[0..n), whose first word is absolute sample number `first`.
    void apply(uint16_t *words, size_t n, uint64_t first) const;

  private:
    void apply_alternating(uint16_t *words, size_t n, uint64_t first, uint16_t even,
                           uint16_t odd) const;

    uint8_t code_ = test_pattern_code::kOff;
    uint16_t user1_ = 0, user2_ = 0;
};

} // namespace zvsim
