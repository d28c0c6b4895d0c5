#include "acquisition_slots.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "acquisition_console.h"
#include "acquisition_memory.h"
#include "errors.h"

// Under LeakSanitizer the memory abandon() leaves to the driver is marked as left on purpose.
#if defined(__SANITIZE_ADDRESS__)
#define ZV_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZV_LEAK_CHECKED 1
#endif
#endif
#ifdef ZV_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace zv {

void TransferSlots::FreeBlock::operator()(uint8_t *block) const {
    std::free(block);
}

TransferSlots::~TransferSlots() = default;

bool TransferSlots::set_up(uint32_t length) {
    const size_t used = size_t(length) * kSlotCount;
    const size_t size = (used / kHugePageSize + 1) * kHugePageSize;
    block_.reset(static_cast<uint8_t *>(std::aligned_alloc(kHugePageSize, size)));
    if (!block_) {
        set_error(Error::out_of_memory);
        return false;
    }
    advise_huge_pages(block_.get(), size);
    std::memset(block_.get(), 0, used);

    bool ok = true;
    for (int i = 0; i < kSlotCount; ++i) {
        auto slot = std::unique_ptr<TransferSlot>(new (std::nothrow) TransferSlot);
        if (!slot) {
            set_error(Error::out_of_memory);
            ok = false;
            continue;
        }
        slot->buffer = block_.get() + size_t(i) * length;
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
#ifdef ZV_LEAK_CHECKED
    __lsan_ignore_object(slots_[index].get());
    __lsan_ignore_object(block_.get());
#endif
    (void)slots_[index].release();
    (void)block_.release();
}

} // namespace zv
