#include "errors.h"

namespace zv {
namespace {

struct ErrorEntry {
    int code;
    const char *message;
};

// Every pair the library can store, in the order of zv::Error.
constexpr ErrorEntry kErrors[] = {
    {ZV_SUCCESS, "success"},
    {ZV_SUCCESS, "no devices found"},
    {ZV_ERROR_USB, "usb in request error"},
    {ZV_ERROR_USB, "usb out request error"},
    {ZV_ERROR_USB, "unable to get endpoint"},
    {ZV_ERROR_USB, "starting transfer failed"},
    {ZV_ERROR_USB, "wait for transfer failed"},
    {ZV_ERROR_USB, "generic usb error"},
    {ZV_ERROR_USB, "error finishing transfer"},
    {ZV_ERROR_USB, "final wait for transfer failed"},
    {ZV_ERROR_INVALID_ARGUMENT, "invalid port"},
    {ZV_ERROR_INVALID_ARGUMENT, "requested feature invalid"},
    {ZV_ERROR_INVALID_ARGUMENT, "unsupported calibration type"},
    {ZV_ERROR_INVALID_ARGUMENT, "wavelength out of range"},
    {ZV_ERROR_INVALID_ARGUMENT, "invalid trigger mode"},
    {ZV_ERROR_INVALID_ARGUMENT, "buff shouldn't be null"},
    {ZV_ERROR_INVALID_ARGUMENT, "samples_per_trigger can't be 0"},
    {ZV_ERROR_INVALID_ARGUMENT, "invalid parameters passed"},
    {ZV_ERROR_INVALID_ARGUMENT, "invalid decimation factor"},
    {ZV_ERROR_INVALID_ARGUMENT, "invalid downsampling factor"},
    {ZV_ERROR_INVALID_ARGUMENT, "invalid calibration mode"},
    {ZV_ERROR_NO_MEMORY, "could not allocate memory"},
    {ZV_ERROR_INVALID_DEVICE, "invalid device"},
    {ZV_ERROR_NOT_CONFIGURED, "settings stored on the device are not configured correctly"},
    {ZV_ERROR_UNKNOWN_FILTER_MODE, "unknown filter mode"},
    {ZV_ERROR_FIRMWARE, "error occured in firmware on the device"},
    {ZV_ERROR_GAIN_MODE, "unable to read gain mode"},
};
static_assert(sizeof(kErrors) / sizeof(kErrors[0]) == static_cast<int>(Error::count_),
              "one table row per zv::Error entry");

// The last-error state: a plain process-wide pair, as callers drive the library from one thread.
int g_code = 0;
const char *g_message = "";

} // namespace

int set_error(Error e) {
    const ErrorEntry &entry = kErrors[static_cast<int>(e)];
    g_code = entry.code;
    g_message = entry.message;
    return entry.code;
}

int error_code(Error e) { return kErrors[static_cast<int>(e)].code; }
const char *error_message(Error e) { return kErrors[static_cast<int>(e)].message; }

} // namespace zv

extern "C" {

int zv_get_error(void) { return zv::g_code; }
const char *zv_get_error_string(void) { return zv::g_message; }

} // extern "C"
