// Repair of a recording whose writer stopped without closing it (killed or crashed). Such a file
// still carries HDF5's "open for writing" marks and an end-of-allocation from before its last
// flushes: single-writer / multiple-reader readers open it, other HDF5 programs refuse it.
// Repairing clears the marks and moves the end of allocation to the end of the file, as `h5clear -s
// --increment=0` does, keeping every flushed sample. (Clearing the marks alone, `h5clear -s`, would
// cut the file back to its first allocation and lose them.)
#pragma once

#include <string>

namespace zv::recording {

// Throws RecordingError: the file is not a recording, is being written now, or cannot be changed.
// A recording that was closed is left as it is.
void repair(const std::string &path);

} // namespace zv::recording
