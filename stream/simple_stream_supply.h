// A supply that fills one caller-owned array (and optionally a parallel flag array) of any
// length, in blocks of at most block_limit elements. Owns nothing.
#pragma once

#include <algorithm>
#include <cstdint>

#include "stream/stream_supply.h"

// Largest block any supply of this library hands out.
constexpr int32_t kSupplyBlockLimit = 131072;

template <typename T> class SimpleStreamSupply : public ZVStreamSupply<T> {
  public:
    // retry_limit: how many times a reported data loss restarts filling from the beginning.
    SimpleStreamSupply(T *destination, uint8_t *flags, uint64_t total, int32_t retry_limit = 0,
                       int32_t block_limit = kSupplyBlockLimit)
        : retry_limit_(retry_limit), destination_(destination), flags_(flags), total_(total),
          block_limit_(block_limit > 0 ? block_limit : 1) {}

    T *next_block(int32_t &count) override {
        count = static_cast<int32_t>(std::min<uint64_t>(block_limit_, total_ - position_));
        return destination_ ? destination_ + position_ : nullptr;
    }

    uint8_t *flag_block(int32_t) override { return flags_ ? flags_ + position_ : nullptr; }

    int32_t advance(int32_t written, int32_t lost) override {
        if (written > 0) position_ = std::min<uint64_t>(total_, position_ + uint64_t(written));
        if (lost && retries_ < retry_limit_) {
            ++retries_;
            position_ = 0;
        }
        return position_ < total_;
    }

    uint64_t position() const { return position_; }
    int32_t retries() const { return retries_; }

  private:
    int32_t retries_ = 0;
    int32_t retry_limit_;
    T *destination_;
    uint8_t *flags_;
    uint64_t position_ = 0;
    uint64_t total_;
    int32_t block_limit_;
};
