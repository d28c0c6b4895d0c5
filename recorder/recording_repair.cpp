#include "recorder/recording_repair.h"

#include "recorder/hdf5_support.h"
#include "recorder/recording_error.h"
#include "recorder/recording_reader.h"
#include "recorder/writer_lock.h"

namespace zv::recording {

namespace {

// The file-access property with which HDF5 opens a file whose "open for writing" marks are set
// (the property HDF5's own h5clear tool sets).
constexpr const char *kClearStatusFlags = "clear_status_flags";

} // namespace

void repair(const std::string &path) {
    {
        const RecordingReader reader(path); // a recording, and whether its writer closed it
        if (reader.state() == ZV_RECORDING_CLOSED) return;
        if (reader.state() == ZV_RECORDING_WRITING)
            throw RecordingError(zv::Error::file_error,
                                 "cannot repair " + path +
                                     ": a recording is writing it now (stop it first; while it "
                                     "runs, read the file with a SWMR reader)");
    }
    Handle access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
    hbool_t clear = true;
    Handle file;
    if (H5Pset(access.get(), kClearStatusFlags, &clear) >= 0)
        file = Handle(H5Fopen(path.c_str(), H5F_ACC_RDWR, access.get()), H5Fclose);
    if (!file.valid() || H5Fincrement_filesize(file.get(), 0) < 0 || !file.reset())
        throw RecordingError(zv::Error::file_error, "cannot repair " + path + ": " + hdf5_cause());
}

} // namespace zv::recording
