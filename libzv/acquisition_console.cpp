#include "acquisition_console.h"

#include <cstdio>

#include "errors.h"

namespace zv::console {
namespace {

// The texts the engine prints. Two lines repeat the stored error message word for word; they are
// taken from the error table rather than written twice.
constexpr const char *kOverlapEvent = "could not create overlap event ";
constexpr const char *kStartedTransfer = "started transfer ";
constexpr const char *kStartedTransferFailed = " failed: ";
constexpr const char *kUsbError = "usb error";
constexpr const char *kErrorStatusFound = "error status found";
constexpr const char *kResubmitFailed = "failed to resubmit transfer: ";
constexpr const char *kFinalFinishFailed = "final finish data failed";
constexpr const char *kDataLoss = "warning: data loss detected!";

void line(const char *text) {
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
}

// A line without its newline: flushed so that it is seen at once.
void fragment(const char *text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

} // namespace

void overlap_event_failed(int slot) {
    std::printf("%s%d\n", kOverlapEvent, slot);
}

void start_failed(int slot, uint32_t driver_status) {
    std::printf("%s%d%s%u\n", kStartedTransfer, slot, kStartedTransferFailed,
                static_cast<unsigned>(driver_status));
}

void wait_failed() {
    line(error_message(Error::wait_for_transfer_failed));
}
void usb_error() {
    fragment(kUsbError);
}
void error_status_found() {
    fragment(kErrorStatusFound);
}

void resubmit_failed(uint32_t driver_status) {
    std::printf("%s%u\n", kResubmitFailed, static_cast<unsigned>(driver_status));
}

void final_wait_failed() {
    line(error_message(Error::final_wait_for_transfer_failed));
}
void final_finish_failed() {
    line(kFinalFinishFailed);
}
void data_loss_warning() {
    line(kDataLoss);
}

} // namespace zv::console
