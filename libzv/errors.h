// The last-error state (one per thread) and the table of every (code, message) pair the library
// stores. Library code names an entry of the table; it never writes a code or text of its own.
#pragma once

#include "libzv.h"

namespace zv {

// One entry per (code, message) pair; the table in errors.cpp follows this order.
enum class Error {
    success,
    no_devices_found,
    usb_in_request,
    usb_out_request,
    unable_to_get_endpoint,
    starting_transfer_failed,
    wait_for_transfer_failed,
    generic_usb_error,
    error_finishing_transfer,
    final_wait_for_transfer_failed,
    invalid_port,
    requested_feature_invalid,
    unsupported_calibration_type,
    wavelength_out_of_range,
    invalid_trigger_mode,
    null_buffer,
    zero_samples_per_trigger,
    invalid_parameters,
    invalid_decimation_factor,
    invalid_downsampling_factor,
    invalid_calibration_mode,
    out_of_memory,
    invalid_device,
    settings_not_configured,
    unknown_filter_mode,
    firmware_error,
    gain_mode_unreadable,
    interrupted,
    timed_out,
    trigger_timed_out,
    stream_not_running,
    stream_stopped,
    stream_already_running,
    device_streaming,
    stream_setting_locked,
    device_collecting,
    file_error,
    file_exists,
    not_a_recording,
    outside_recording,
    stream_being_recorded,
    stream_recorded_already,
    stream_read_in_progress,
    recording_not_ended,
    recording_needs_power,
    no_samplerate,
    no_adcbits,
    no_fwversion,
    calibration_not_finite,
    device_already_open,
    unexpected_failure,
    count_ // keep last
};

// Stores the entry in the calling thread's last-error state and returns its code.
int set_error(Error e);
// Stores the entry's code with a message composed at the failure (naming a file and the cause, for
// example) instead of the entry's own; the text is copied and stays readable until the next error.
int set_error_text(Error e, const char *text);

// Stores a code and a copy of a message read from another thread's state (a library thread hands
// its failure to the thread that reads its results). Returns the code.
int store_error(int code, const char *message);

// The code and message of an entry, without touching the state.
int error_code(Error e);
const char *error_message(Error e);

} // namespace zv
