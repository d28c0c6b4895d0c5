// The process's libusb context, created on first use (the first enumeration) and released at exit.
#pragma once

#include <libusb.h>

namespace zvusb {

// The shared context, or null when libusb cannot be initialised (no USB on this machine).
libusb_context *shared_libusb_context();

} // namespace zvusb
