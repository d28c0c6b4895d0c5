// When the packets of an isochronous stream are due by the wall clock: one per service interval,
// stretched by a pace factor a little below 1. The emulated host controller buffers what arrives
// and drops packets when its buffer overflows; sent slightly slower than it takes them, its buffer
// runs empty now and then (the host sees empty packets) but never overflows.
#pragma once

#include <cstdint>

namespace zve2e {

class PacketSchedule {
  public:
    PacketSchedule(double interval_seconds, double pace);

    // The stream starts at `now` with `ahead` packets due at once.
    void start(double now, uint32_t ahead);
    // Packets due at `now` and not yet taken. After a long pause (the server was not scheduled)
    // the schedule restarts at `now` instead of sending the missed packets in one burst.
    uint32_t due(double now);
    void take(uint32_t packets);
    // Seconds from `now` to the next packet (0 when one is due).
    double wait(double now) const;

  private:
    double period_;
    double next_ = 0;
};

} // namespace zve2e
