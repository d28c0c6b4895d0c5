// Versions of the library and of the USB library beneath it, for programs and bug reports.
#include <libusb.h>

#include <cstdio>

#include "libzv.h"

extern "C" {

void zv_get_version(int *major, int *minor, int *patch) {
    if (major) *major = ZV_VERSION_MAJOR;
    if (minor) *minor = ZV_VERSION_MINOR;
    if (patch) *patch = ZV_VERSION_PATCH;
}

const char *zv_get_libusb_version(void) {
    static char text[32];
    if (text[0] == '\0') {
        const libusb_version *v = libusb_get_version();
        std::snprintf(text, sizeof text, "%u.%u.%u", v->major, v->minor, v->micro);
    }
    return text;
}

} // extern "C"
