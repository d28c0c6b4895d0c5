// The one place where libusb's error codes and transfer statuses become this transport's system
// errors and USB statuses.
#pragma once

#include <cstdint>

#include <libusb.h>

namespace zvusb {

// A libusb_error (0 or negative) as a system error.
uint32_t system_error_of_libusb(int libusb_error);

struct TransferOutcome {
    uint32_t error;      // system error of the request
    uint32_t usb_status; // USB status of the request or packet
};

// A transfer's or isochronous packet's status.
TransferOutcome outcome_of_libusb(libusb_transfer_status status);

} // namespace zvusb
