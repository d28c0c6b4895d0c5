// Registers of the detector's ADC written through the write-register request, and their values.
#pragma once

#include <cstdint>

namespace zv {
namespace adc {

constexpr uint8_t kTestPatternRegister = 13;
constexpr uint8_t kPatternOff = 0;
constexpr uint8_t kPatternCheckerboard = 4;
constexpr uint8_t kPatternPn9 = 6;
constexpr uint8_t kPatternUser = 8;

// The ADC clock divider: the clock runs at the input clock / (value + 1), value 0 to 3.
constexpr uint8_t kClockDivideRegister = 11;

// Writing 1 here makes the preceding register writes take effect.
constexpr uint8_t kCommitRegister = 255;
constexpr uint8_t kCommitValue = 1;

// The 14-bit user pattern is written twice, as a low part (bits 5-0 in data bits 7-2) and a
// high part (bits 13-6), in this register order.
enum class PatternPart { low, high };
struct UserPatternRegister {
    uint8_t reg;
    PatternPart part;
};
constexpr UserPatternRegister kUserPatternRegisters[] = {{25, PatternPart::low},
                                                         {26, PatternPart::high},
                                                         {27, PatternPart::low},
                                                         {28, PatternPart::high}};

} // namespace adc
} // namespace zv
