#include "usb/libusb/libusb_errors.h"

#include "usb/system_errors.h"
#include "usb/usb_status.h"

namespace zvusb {

namespace {

struct ErrorMapping {
    int libusb_error;
    uint32_t system_error;
};

constexpr ErrorMapping kErrors[] = {
    {LIBUSB_SUCCESS, kErrorSuccess},
    {LIBUSB_ERROR_IO, kErrorGenFailure},
    {LIBUSB_ERROR_INVALID_PARAM, kErrorInvalidParameter},
    {LIBUSB_ERROR_ACCESS, kErrorAccessDenied},
    {LIBUSB_ERROR_NO_DEVICE, kErrorDeviceNotConnected},
    {LIBUSB_ERROR_NOT_FOUND, kErrorFileNotFound},
    {LIBUSB_ERROR_BUSY, kErrorBusy},
    {LIBUSB_ERROR_TIMEOUT, kErrorSemTimeout},
    {LIBUSB_ERROR_OVERFLOW, kErrorGenFailure},
    {LIBUSB_ERROR_PIPE, kErrorGenFailure},
    {LIBUSB_ERROR_INTERRUPTED, kErrorOperationAborted},
    {LIBUSB_ERROR_NO_MEM, kErrorNotEnoughMemory},
    {LIBUSB_ERROR_NOT_SUPPORTED, kErrorNotSupported},
};

struct StatusMapping {
    libusb_transfer_status status;
    TransferOutcome outcome;
};

constexpr StatusMapping kStatuses[] = {
    {LIBUSB_TRANSFER_COMPLETED, {kErrorSuccess, kUsbStatusSuccess}},
    {LIBUSB_TRANSFER_ERROR, {kErrorGenFailure, kUsbStatusNotResponding}},
    {LIBUSB_TRANSFER_TIMED_OUT, {kErrorSemTimeout, kUsbStatusTimeout}},
    {LIBUSB_TRANSFER_CANCELLED, {kErrorOperationAborted, kUsbStatusCanceled}},
    {LIBUSB_TRANSFER_STALL, {kErrorGenFailure, kUsbStatusStall}},
    {LIBUSB_TRANSFER_NO_DEVICE, {kErrorDeviceNotConnected, kUsbStatusDeviceGone}},
    {LIBUSB_TRANSFER_OVERFLOW, {kErrorGenFailure, kUsbStatusDataOverrun}},
};

} // namespace

uint32_t system_error_of_libusb(int libusb_error) {
    for (const ErrorMapping &m : kErrors)
        if (m.libusb_error == libusb_error) return m.system_error;
    return kErrorGenFailure;
}

TransferOutcome outcome_of_libusb(libusb_transfer_status status) {
    for (const StatusMapping &m : kStatuses)
        if (m.status == status) return m.outcome;
    return {kErrorGenFailure, kUsbStatusNotResponding};
}

} // namespace zvusb
