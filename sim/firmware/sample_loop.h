// The raw words a simulated detector streams, played in a loop. The position in the loop carries
// on across packets, transfers and collections: every packet the device fills takes the next
// words, whether or not the host keeps them. The loop also counts every word produced since the
// detector was attached (the absolute sample number test patterns and ports run on).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zvsim {

// The default words: one of every 14-bit ADC code, 0 to 16383, port bits clear.
std::vector<uint16_t> default_ramp();

class SampleLoop {
  public:
    // An empty `words` selects the default ramp.
    explicit SampleLoop(std::vector<uint16_t> words);

    // Replaces the words; the loop restarts at position 0.
    void set_words(std::vector<uint16_t> words);
    const std::vector<uint16_t> &words() const { return words_; }

    // Index in words() of the next word, and moving it.
    size_t position() const { return position_; }
    void set_position(size_t position) { position_ = position % words_.size(); }
    // The next word, without taking it.
    uint16_t peek() const { return words_[position_]; }
    // Absolute number of the next word since the detector was attached.
    uint64_t produced() const { return produced_; }

    // Copies the next n words to out and advances.
    void take(uint16_t *out, size_t n);
    // Advances past n words without copying them (samples the detector lost).
    void skip(uint64_t n);

  private:
    std::vector<uint16_t> words_;
    // words_ continued cyclically by kMinimumRun words, so that any position has a long
    // contiguous run ahead: copies are few and large even when the loop is short.
    std::vector<uint16_t> unrolled_;
    size_t position_ = 0;
    uint64_t produced_ = 0;
};

} // namespace zvsim
