#include "usb/libusb/libusb_context.h"

namespace zvusb {

namespace {

struct ContextHolder {
    libusb_context *context = nullptr;
    ContextHolder() {
        if (libusb_init(&context) != LIBUSB_SUCCESS) context = nullptr;
    }
    ~ContextHolder() {
        if (context != nullptr) libusb_exit(context);
    }
};

} // namespace

libusb_context *shared_libusb_context() {
    static ContextHolder holder;
    return holder.context;
}

} // namespace zvusb
