#include "sim/firmware/test_pattern.h"

#include <algorithm>
#include <array>

namespace zvsim {

namespace {

constexpr uint16_t kCodeMask = 0x3FFF;
constexpr uint16_t kPortMask = 0xC000;

std::array<uint16_t, kPn9Period> make_pn9_table() {
    std::array<uint16_t, kPn9Period> table{};
    uint32_t state = 0x1FF;
    for (auto &word : table) {
        for (int b = 0; b < 14; ++b) {
            uint32_t bit = ((state >> 8) ^ (state >> 4)) & 1u;
            state = ((state << 1) | bit) & 0x1FFu;
            word = uint16_t(word << 1 | bit);
        }
    }
    return table;
}

const std::array<uint16_t, kPn9Period> &pn9_table() {
    static const std::array<uint16_t, kPn9Period> table = make_pn9_table();
    return table;
}

} // namespace

uint16_t pn9_word(uint64_t n) {
    return pn9_table()[n % kPn9Period];
}

void TestPattern::configure(uint8_t code, uint16_t user1, uint16_t user2) {
    using namespace test_pattern_code;
    code_ = (code == kCheckerboard || code == kPn9 || code == kUser) ? code : kOff;
    user1_ = user1 & kCodeMask;
    user2_ = user2 & kCodeMask;
}

void TestPattern::apply_alternating(uint16_t *words, size_t n, uint64_t first, uint16_t even,
                                    uint16_t odd) const {
    const uint16_t a = (first & 1) ? odd : even;
    const uint16_t b = (first & 1) ? even : odd;
    size_t i = 0;
    for (; i + 1 < n; i += 2) {
        words[i] = uint16_t((words[i] & kPortMask) | a);
        words[i + 1] = uint16_t((words[i + 1] & kPortMask) | b);
    }
    if (i < n) words[i] = uint16_t((words[i] & kPortMask) | a);
}

void TestPattern::apply(uint16_t *words, size_t n, uint64_t first) const {
    using namespace test_pattern_code;
    switch (code_) {
    case kCheckerboard:
        apply_alternating(words, n, first, kCheckerboardEven, kCheckerboardOdd);
        break;
    case kUser:
        apply_alternating(words, n, first, user1_, user2_);
        break;
    case kPn9: {
        const auto &table = pn9_table();
        size_t at = size_t(first % kPn9Period);
        for (size_t i = 0; i < n;) {
            size_t run = std::min(n - i, kPn9Period - at);
            for (size_t k = 0; k < run; ++k)
                words[i + k] = uint16_t((words[i + k] & kPortMask) | table[at + k]);
            i += run;
            at = 0;
        }
        break;
    }
    default:
        break;
    }
}

} // namespace zvsim
