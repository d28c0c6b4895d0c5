// The recorder's C functions run their C++ inside guarded(): HDF5 kept quiet while it runs, at the
// library's C boundary (libzv/c_boundary.h), so nothing is thrown across the C interface.
#pragma once

#include "libzv/c_boundary.h"
#include "libzv/errors.h"
#include "recorder/hdf5_support.h"

namespace zv::recording {

// Runs body; a failure stores the last error and returns its code (body's result otherwise). A
// failure the recorder did not name (a RecordingError) is a file error with its cause.
template <typename Body> int guarded(Body body) {
    return c_status(
        [&] {
            const QuietHdf5 quiet;
            return body();
        },
        Error::file_error);
}

// True, with 48 stored, when a required pointer is null.
inline bool missing(const void *pointer) {
    if (pointer) return false;
    set_error(Error::invalid_parameters);
    return true;
}

} // namespace zv::recording
