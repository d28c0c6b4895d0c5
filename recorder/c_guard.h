// The recorder's C functions run their C++ inside guarded(): HDF5 kept quiet, and every exception
// turned into the calling thread's last error, so nothing is thrown across the C interface.
#pragma once

#include <new>
#include <stdexcept>

#include "libzv/errors.h"
#include "recorder/hdf5_support.h"
#include "recorder/recording_error.h"

namespace zv::recording {

// Runs body; a failure stores the last error and returns its code (body's result otherwise).
template <typename Body> int guarded(Body body) {
    const QuietHdf5 quiet;
    try {
        return body();
    } catch (const RecordingError &e) {
        return set_error_text(e.entry(), e.what());
    } catch (const std::bad_alloc &) {
        return set_error(Error::out_of_memory);
    } catch (const std::exception &e) {
        return set_error_text(Error::file_error, e.what());
    }
}

// True, with 48 stored, when a required pointer is null.
inline bool missing(const void *pointer) {
    if (pointer) return false;
    set_error(Error::invalid_parameters);
    return true;
}

} // namespace zv::recording
