// Where a stream writes its output: a supply hands out blocks of elements and is told how many
// were written. A block may be of any size up to INT32_MAX elements.
#pragma once

#include <cstdint>

template <typename T> class ZVStreamSupply {
  public:
    // The next output block; its element count is stored in count.
    virtual T *next_block(int32_t &count) = 0;
    // The per-sample flag array parallel to the block just handed out (count elements), or null.
    virtual uint8_t *flag_block(int32_t count) = 0;
    // Accounts for written elements of the current block; lost is non-zero when raw data were
    // lost since the last call. Returns non-zero while more blocks are wanted.
    virtual int32_t advance(int32_t written, int32_t lost) = 0;

    virtual ~ZVStreamSupply() = default;
};
