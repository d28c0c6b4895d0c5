// A supply that owns one block and hands it out forever: output is overwritten block after
// block. Used to measure processing speed without keeping the results.
#pragma once

#include <cstdint>
#include <memory>

#include "stream/stream_supply.h"

template <typename T> class NoSupply : public ZVStreamSupply<T> {
  public:
    // Throws std::bad_alloc when the arrays cannot be allocated. length must be positive: an
    // empty block would never let the stream move on.
    NoSupply(int32_t length, bool with_flags)
        : length_(length), block_(new T[length]),
          flags_(with_flags ? new uint8_t[length] : nullptr) {}

    T *next_block(int32_t &count) override {
        count = length_;
        return block_.get();
    }
    uint8_t *flag_block(int32_t) override { return flags_.get(); }
    int32_t advance(int32_t, int32_t) override { return 1; }

  private:
    int32_t length_;
    std::unique_ptr<T[]> block_;
    std::unique_ptr<uint8_t[]> flags_;
};
