// The asynchronous-I/O record of one driver request. The driver fills status and bytes when the
// request completes and then signals the event.
#pragma once

#include <cstdint>

#include "usb/platform/event.h"
#include "usb/system_errors.h"

namespace zvusb {

struct Overlapped {
    Event *event = nullptr;
    uint32_t status = kErrorSuccess; // kErrorIoPending while in flight, then the request's result
    uint32_t bytes = 0;              // bytes the request returned
};

// The result of a request without waiting: false with kErrorIoIncomplete while it is in flight,
// false with the request's error when it failed, true with its byte count when it succeeded.
inline bool get_overlapped_result(const Overlapped &ov, uint32_t *bytes, uint32_t *error) {
    if (bytes) *bytes = ov.bytes;
    uint32_t status = ov.status == kErrorIoPending ? uint32_t(kErrorIoIncomplete) : ov.status;
    if (error) *error = status;
    return status == kErrorSuccess;
}

} // namespace zvusb
