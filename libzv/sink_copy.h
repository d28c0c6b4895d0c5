// The sink of plain collection: copies samples into the caller's buffer until it is full.
#pragma once

#include <cstdint>

namespace zv {

struct CopySinkRecord {
    uint16_t *write;    // next place in the caller's buffer
    uint64_t remaining; // places left
};

// A zv_sample_sink; `user` is a CopySinkRecord. Never writes more than `remaining` samples.
int copy_sink(const uint16_t *samples, int count, int data_lost, void *user);

} // namespace zv
