// USB-level status values a driver writes into a transfer record and into isochronous packet
// entries (0 = good). The values are those of the Windows USB stack the detector first ran on,
// so a printed status reads the same on every platform.
#pragma once

#include <cstdint>

namespace zvusb {

constexpr uint32_t kUsbStatusSuccess = 0;
constexpr uint32_t kUsbStatusCrc = 0xC0000001;            // data error on the wire
constexpr uint32_t kUsbStatusNotResponding = 0xC0000005;  // protocol error, no handshake
constexpr uint32_t kUsbStatusStall = 0xC0000004;          // endpoint stalled the request
constexpr uint32_t kUsbStatusDataOverrun = 0xC0000008;    // device sent more than asked
constexpr uint32_t kUsbStatusDeviceGone = 0xC0007000;     // device unplugged
constexpr uint32_t kUsbStatusCanceled = 0xC0010000;       // request cancelled (abort, time-out)
constexpr uint32_t kUsbStatusIsoNotAccessed = 0xC0020000; // isochronous packet not transferred
constexpr uint32_t kUsbStatusTimeout = 0xC0006000;        // request timed out

} // namespace zvusb
