#include "sim/firmware/sample_loop.h"

#include <algorithm>
#include <cstring>

namespace zvsim {

namespace {

constexpr size_t kMinimumRun = 65536; // words contiguous ahead of any position

} // namespace

std::vector<uint16_t> default_ramp() {
    std::vector<uint16_t> ramp(16384);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = uint16_t(i);
    return ramp;
}

SampleLoop::SampleLoop(std::vector<uint16_t> words) {
    set_words(std::move(words));
}

void SampleLoop::set_words(std::vector<uint16_t> words) {
    words_ = words.empty() ? default_ramp() : std::move(words);
    unrolled_.resize(words_.size() + kMinimumRun);
    for (size_t i = 0; i < unrolled_.size(); ++i)
        unrolled_[i] = words_[i % words_.size()];
    position_ = 0;
}

void SampleLoop::take(uint16_t *out, size_t n) {
    const size_t len = words_.size();
    produced_ += n;
    while (n > 0) {
        const size_t run = std::min(n, unrolled_.size() - position_);
        std::memcpy(out, unrolled_.data() + position_, run * sizeof(uint16_t));
        out += run;
        n -= run;
        position_ = (position_ + run) % len;
    }
}

void SampleLoop::skip(uint64_t n) {
    produced_ += n;
    position_ = size_t((position_ + n % words_.size()) % words_.size());
}

} // namespace zvsim
