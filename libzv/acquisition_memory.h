// Memory hints for the large buffers of a collection.
#pragma once

#include <cstddef>

namespace zv {

constexpr size_t kHugePageSize = size_t(2) << 20;

// Asks the kernel to back the whole huge pages inside [begin, begin + bytes) with huge pages
// (Linux; elsewhere nothing). Fresh memory is otherwise mapped one 4 KiB page per fault on first
// write, and for the tens or hundreds of megabytes a collection writes those faults can cost more
// than the collection itself. Only speed changes: contents and memory already in use stay.
void advise_huge_pages(void *begin, size_t bytes);

} // namespace zv
