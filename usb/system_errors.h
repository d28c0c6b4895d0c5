// System error numbers reported by driver calls and kept in the transport's last-error fields.
// They keep the values the detector's original platform used, because the acquisition engine
// tests for "I/O pending" (997) by number.
#pragma once

#include <cstdint>

namespace zvusb {

enum SystemError : uint32_t {
    kErrorSuccess = 0,
    kErrorFileNotFound = 2,  // no device at that path (unplugged)
    kErrorAccessDenied = 5,  // the user may not open the device
    kErrorInvalidHandle = 6, // the handle is closed
    kErrorNotEnoughMemory = 8,
    kErrorGenFailure = 31,        // the device failed the request (stall, protocol error)
    kErrorNotSupported = 50,      // the driver does not know the request
    kErrorInvalidParameter = 87,  // malformed record or buffer
    kErrorSemTimeout = 121,       // the request timed out
    kErrorBusy = 170,             // another program holds the device
    kErrorNoMoreItems = 259,      // enumeration has no device at that index
    kErrorOperationAborted = 995, // the request was cancelled
    kErrorIoIncomplete = 996,     // asked for the result of a request still in flight
    kErrorIoPending = 997,        // the request was queued and completes later
    kErrorDeviceNotConnected = 1167,
};

} // namespace zvusb
