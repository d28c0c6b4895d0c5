// The sixteen transfer slots of one collection: each holds a transfer buffer, its packet table,
// its overlapped record and event, and the transport's context while a transfer is in flight.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "usb/platform/event.h"
#include "usb/platform/overlapped.h"
#include "usb/transfer_record.h"

namespace zv {

constexpr int kSlotCount = 16;
constexpr int kPacketsPerTransfer = 16;

struct TransferSlot {
    uint8_t *buffer = nullptr; // kPacketsPerTransfer packets of the maximum packet size
    zvusb::IsoPacketInfo packets[kPacketsPerTransfer] = {};
    std::unique_ptr<zvusb::Event> event;
    zvusb::Overlapped ov;
    uint8_t *context = nullptr; // the transport's record of the transfer begun last
    bool pending = false;       // begun and not yet finished
    bool stuck = false;         // the driver kept it even after an abort

    // True while the driver still holds the transfer (its buffer and record are in use).
    bool in_flight() const { return ov.status == zvusb::kErrorIoPending; }
};

class TransferSlots {
  public:
    TransferSlots() = default;
    TransferSlots(const TransferSlots &) = delete;
    TransferSlots &operator=(const TransferSlots &) = delete;
    // Frees every slot unless one was given up with abandon().
    ~TransferSlots();

    // Allocates and zeroes every slot's buffer (`length` bytes) and packet table and creates its
    // event. A slot that cannot be set up is reported (console line, stored error) and the
    // others are still set up. False when any slot failed.
    bool set_up(uint32_t length);

    // The slot, or null when it could not be allocated.
    TransferSlot *at(int index) { return slots_[index].get(); }

    // Leaves a slot, and the buffer block it is part of, allocated for good: the driver may
    // still write into its buffer, record and overlapped record, so freeing them would hand it
    // freed memory.
    void abandon(int index);

  private:
    struct FreeBlock {
        void operator()(uint8_t *block) const;
    };
    // The sixteen buffers in one block, aligned to and advised for huge pages: a collection
    // allocates them afresh, and page by page they would cost thousands of faults.
    std::unique_ptr<uint8_t, FreeBlock> block_;
    std::array<std::unique_ptr<TransferSlot>, kSlotCount> slots_;
};

} // namespace zv
