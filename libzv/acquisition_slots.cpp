#include "acquisition_slots.h"

#include <cstring>
#include <new>

#include "acquisition_console.h"
#include "errors.h"

namespace zv {

TransferSlots::~TransferSlots() = default;

bool TransferSlots::set_up(uint32_t length) {
    bool ok = true;
    for (int i = 0; i < kSlotCount; ++i) {
        auto slot = std::unique_ptr<TransferSlot>(new (std::nothrow) TransferSlot);
        if (slot) slot->buffer.reset(new (std::nothrow) uint8_t[length > 0 ? length : 1]);
        if (!slot || !slot->buffer) {
            set_error(Error::out_of_memory);
            ok = false;
            slots_[i] = std::move(slot);
            continue;
        }
        std::memset(slot->buffer.get(), 0, length);
        slot->event.reset(new (std::nothrow) zvusb::Event);
        if (!slot->event) {
            // Events only fail for want of memory here; the run must not look like a success.
            console::overlap_event_failed(i);
            set_error(Error::out_of_memory);
            ok = false;
        }
        slot->ov.event = slot->event.get();
        slots_[i] = std::move(slot);
    }
    return ok;
}

void TransferSlots::abandon(int index) {
    (void)slots_[index].release();
}

} // namespace zv
