// Helpers shared by the stream tests: raw sample ramps, supplies that record what the stream
// does with them, and feeding raw blocks to a prepared stream.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "stream/stream_impl.h"
#include "stream/zv_stream.h"

// The 16-bit ramp simulate feeds: word i is i modulo 65536.
inline std::vector<uint16_t> ramp_words(size_t count, uint16_t base = 0) {
    std::vector<uint16_t> words(count);
    for (size_t i = 0; i < count; ++i)
        words[i] = static_cast<uint16_t>(base + i);
    return words;
}

// Feeds words to a prepared stream in raw blocks of block_size; returns the last sink result.
template <typename T>
int feed(ZVStreamImpl<T> &stream, const std::vector<uint16_t> &words, size_t block_size) {
    int more = 1;
    for (size_t at = 0; at < words.size() && more; at += block_size) {
        const size_t n = std::min(block_size, words.size() - at);
        more = stream.process_raw(words.data() + at, static_cast<int>(n), 0);
    }
    return more;
}

// A supply that hands out blocks of fixed sizes from a sequence (then says it wants no more)
// and records every advance.
template <typename T> class ScriptedSupply : public ZVStreamSupply<T> {
  public:
    struct Advance {
        int32_t written;
        int32_t lost;
    };

    explicit ScriptedSupply(std::vector<int32_t> sizes) : sizes_(std::move(sizes)) {
        size_t total = 0;
        for (int32_t s : sizes_)
            total += static_cast<size_t>(std::max(s, 0));
        data_.assign(total, T(-1));
    }

    T *next_block(int32_t &count) override {
        count = block_ < sizes_.size() ? sizes_[block_] : 0;
        return data_.data() + offset_;
    }
    uint8_t *flag_block(int32_t) override { return nullptr; }
    int32_t advance(int32_t written, int32_t lost) override {
        advances.push_back({written, lost});
        offset_ += static_cast<size_t>(std::max(written, 0));
        ++block_;
        return block_ < sizes_.size();
    }

    const std::vector<T> &data() const { return data_; }
    std::vector<Advance> advances;

  private:
    std::vector<int32_t> sizes_;
    std::vector<T> data_;
    size_t block_ = 0;
    size_t offset_ = 0;
};
