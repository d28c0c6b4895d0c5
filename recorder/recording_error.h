// The failure of a recording operation: an entry of the library's error table and a message that
// names the file and the cause. The recorder's C++ classes throw it; the C boundary stores it as
// the last error.
#pragma once

#include "libzv/c_boundary.h"

namespace zv::recording {

class RecordingError : public zv::LibraryError {
  public:
    using zv::LibraryError::LibraryError;
};

} // namespace zv::recording
