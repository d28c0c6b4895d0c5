#include "sim/firmware/adc_registers.h"

namespace zvsim {

namespace {

uint16_t user_word(uint8_t low, uint8_t high) {
    return uint16_t(high << 6 | low >> 2);
}

} // namespace

void AdcRegisters::write(uint8_t reg, uint16_t value) {
    written_[reg] = value;
    current_[reg] = uint8_t(value);
    if (reg != adc_register::kCommit || value != 1) return;
    using namespace adc_register;
    pattern_.configure(current_[kTestPattern],
                       user_word(current_[kUserPattern1Low], current_[kUserPattern1High]),
                       user_word(current_[kUserPattern2Low], current_[kUserPattern2High]));
}

void AdcRegisters::reset() {
    current_.fill(0);
    written_.clear();
    pattern_ = TestPattern();
}

} // namespace zvsim
