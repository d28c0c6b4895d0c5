// The HDF5 types of the layout's stored values: the sample type of each kind and the compound rows
// of the gap and change tables, in the file (little-endian, packed) and in memory (GapRow,
// ChangeRow). The gap kind is an HDF5 enumeration, so the file names its values.
#pragma once

#include "recorder/hdf5_support.h"

namespace zv::recording {

// The file's and memory's type of a sample of a kind (ZV_RECORDING_RAW, ZV_RECORDING_FLOAT32).
hid_t sample_file_type(int kind);
hid_t sample_memory_type(int kind);

Handle gap_file_type();
Handle gap_memory_type();
Handle change_file_type();
Handle change_memory_type();

} // namespace zv::recording
