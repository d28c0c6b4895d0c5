// Keeps a recording from filling the page cache. A stream written at 160 MB/s would otherwise
// leave gigabytes of dirty pages for the kernel to write back in bursts and then to reclaim,
// work that competes for the processor with the acquisition. After each flush, the bytes the
// file gained since the flush before are sent to the disk, and the bytes sent then are waited
// for and dropped from the cache: at most two flushes' worth stay in memory. The waiting falls on
// the writer's thread, where a disk slower than the stream shows as the stream's overflow.
#pragma once

#include <cstdint>

namespace zv::recording {

class WriteBehind {
  public:
    // After a flush of the file open as fd; advisory, failures are ignored (the data is in the
    // file either way).
    void after_flush(int fd);

  private:
    uint64_t sent_ = 0;    // bytes from the start whose writeback was started
    uint64_t dropped_ = 0; // bytes from the start written back and dropped from the cache
};

} // namespace zv::recording
