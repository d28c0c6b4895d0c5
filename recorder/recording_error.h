// The failure of a recording operation: an entry of the library's error table and a message that
// names the file and the cause. The recorder's C++ classes throw it; the C functions store it as
// the last error.
#pragma once

#include <stdexcept>
#include <string>

#include "libzv/errors.h"

namespace zv::recording {

class RecordingError : public std::runtime_error {
  public:
    RecordingError(zv::Error entry, const std::string &message)
        : std::runtime_error(message), entry_(entry) {}
    zv::Error entry() const { return entry_; }

  private:
    zv::Error entry_;
};

} // namespace zv::recording
