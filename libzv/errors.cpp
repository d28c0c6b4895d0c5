#include "errors.h"

#include <new>
#include <string>

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
    {ZV_ERROR_INTERRUPTED, "interrupted"},
    {ZV_ERROR_TIMEOUT, "timed out waiting for samples"},
    {ZV_ERROR_TIMEOUT, "timed out waiting for the trigger"},
    {ZV_ERROR_STREAM_STATE, "the stream is not running: call start first"},
    {ZV_ERROR_STREAM_STATE, "the stream was stopped"},
    {ZV_ERROR_STREAM_STATE, "a stream is already running on this detector"},
    {ZV_ERROR_STREAM_STATE, "a stream is running on this detector: stop it first"},
    {ZV_ERROR_STREAM_STATE, "the stream is running: stop it to change its filter or downsampling"},
    {ZV_ERROR_STREAM_STATE, "a collection is running on this detector"},
    {ZV_ERROR_FILE, "file error"},
    {ZV_ERROR_FILE_EXISTS, "the file exists"},
    {ZV_ERROR_NOT_RECORDING, "not a zv recording"},
    {ZV_ERROR_INVALID_ARGUMENT, "samples outside the recording"},
    {ZV_ERROR_STREAM_STATE,
     "the stream is being recorded: its recorder reads the samples (stop the recording to read "
     "them)"},
    {ZV_ERROR_STREAM_STATE, "the stream is being recorded already: one recorder per stream"},
    {ZV_ERROR_STREAM_STATE, "a read of the stream is in progress on another thread"},
    {ZV_ERROR_TIMEOUT, "the recording has not ended yet"},
    {ZV_ERROR_INVALID_ARGUMENT,
     "a processed recording stores power: set the stream's calibration mode to auto or custom, "
     "or record a raw stream"},
    {ZV_ERROR_NOT_CONFIGURED,
     "the detector reports no sample rate: its stored identity leaves it unset (or zero)"},
    {ZV_ERROR_NOT_CONFIGURED,
     "the detector reports no ADC bit count: its stored identity leaves it unset"},
    {ZV_ERROR_NOT_CONFIGURED,
     "the detector reports no firmware version: its stored identity leaves it unset"},
    {ZV_ERROR_NOT_CONFIGURED,
     "the detector's stored calibration for its gain mode is not a finite number: calibrated "
     "data would be meaningless (raw data still works)"},
    {ZV_ERROR_DEVICE_OPEN,
     "the detector is already open in this program: use the Device that holds it, or close that "
     "one first"},
    {ZV_ERROR_INTERNAL, "unexpected failure inside libzv"},
};
static_assert(sizeof(kErrors) / sizeof(kErrors[0]) == static_cast<int>(Error::count_),
              "one table row per zv::Error entry");

// The last-error state of each thread, as errno is: a call's status always describes that call,
// whatever other threads do meanwhile.
thread_local int g_code = 0;
thread_local const char *g_message = "";
// The text of the last error stored with set_error_text, per thread as the code is.
thread_local std::string g_text;

// Keeps a copy of text as this thread's message. Storing an error never fails: short of memory
// for the copy, the message is `fallback` (static).
void keep_text(const char *text, const char *fallback) noexcept {
    try {
        g_text = text;
        g_message = g_text.c_str();
    } catch (const std::bad_alloc &) {
        g_message = fallback;
    }
}

} // namespace

int set_error(Error e) {
    const ErrorEntry &entry = kErrors[static_cast<int>(e)];
    g_code = entry.code;
    g_message = entry.message;
    return entry.code;
}

int store_error(int code, const char *message) {
    // Copied: the message may live in the other thread's own state, gone with the thread.
    g_code = code;
    keep_text(message, error_message(Error::out_of_memory));
    return code;
}

int set_error_text(Error e, const char *text) {
    g_code = kErrors[static_cast<int>(e)].code;
    keep_text(text, kErrors[static_cast<int>(e)].message);
    return g_code;
}

int error_code(Error e) {
    return kErrors[static_cast<int>(e)].code;
}
const char *error_message(Error e) {
    return kErrors[static_cast<int>(e)].message;
}

} // namespace zv

extern "C" {

int zv_get_error(void) {
    return zv::g_code;
}
const char *zv_get_error_string(void) {
    return zv::g_message;
}

} // extern "C"
