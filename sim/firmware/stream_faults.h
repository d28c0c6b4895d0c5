// Faults injected into the isochronous stream. Each names a transfer by its number counted from
// the start of a collection (the host selecting the streaming alternate setting; 0 = the first
// transfer served after that) and optionally one packet of it. Faults injected now apply to the
// next collection and are forgotten when the one after it starts.
#pragma once

#include <cstdint>
#include <vector>

namespace zvsim {

enum class StreamFault : uint8_t {
    bad_status,   // the packet arrives with a non-zero status
    bad_length,   // the packet reports 2 bytes more than its maximum size
    data_loss,    // the packet carries the data-loss marker
    error_status, // the whole transfer completes with an error status (its packets are intact)
    timeout,      // the transfer never completes (until the host cancels it)
};

constexpr int kEveryPacket = -1;

// What applies to one transfer.
struct TransferFaults {
    bool error_status = false;
    bool timeout = false;
    struct PacketFault {
        int packet; // or kEveryPacket
        StreamFault kind;
    };
    std::vector<PacketFault> packets;
};

class StreamFaultPlan {
  public:
    void inject(StreamFault kind, uint32_t transfer, int packet);
    // A collection starts: the injected faults become the active ones.
    void start_collection();
    TransferFaults for_transfer(uint32_t transfer) const;
    void clear();

  private:
    struct Entry {
        StreamFault kind;
        uint32_t transfer;
        int packet;
    };
    std::vector<Entry> pending_, active_;
};

} // namespace zvsim
