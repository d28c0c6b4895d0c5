// Small tools over the HDF5 C library for the recorder: handles that close themselves, HDF5's error
// stack turned into a short cause a user can read, and silence of HDF5's own error printing.
#pragma once

#include <hdf5.h>

#include <cstdint>
#include <string>
#include <utility>

namespace zv::recording {

// An HDF5 identifier closed by its own close function when the handle goes.
class Handle {
  public:
    using Closer = herr_t (*)(hid_t);
    Handle() = default;
    Handle(hid_t id, Closer closer) : id_(id), closer_(closer) {}
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    Handle(Handle &&other) noexcept { swap(other); }
    Handle &operator=(Handle &&other) noexcept {
        Handle(std::move(other)).swap(*this);
        return *this;
    }
    ~Handle() { reset(); }

    hid_t get() const { return id_; }
    bool valid() const { return id_ >= 0; }
    // Closes now; returns false when the close failed.
    bool reset();

  private:
    void swap(Handle &other) noexcept {
        std::swap(id_, other.id_);
        std::swap(closer_, other.closer_);
    }
    hid_t id_ = -1;
    Closer closer_ = nullptr;
};

// The cause of the HDF5 failure just reported on this thread, for a message: the operating
// system's words when the innermost error carries an errno ("no space left on device"), else
// HDF5's innermost description.
std::string hdf5_cause();

// Turns HDF5's printing of errors to standard error off on this thread while it lives; the
// recorder reports errors itself.
class QuietHdf5 {
  public:
    QuietHdf5();
    ~QuietHdf5();
    QuietHdf5(const QuietHdf5 &) = delete;
    QuietHdf5 &operator=(const QuietHdf5 &) = delete;

  private:
    H5E_auto2_t function_ = nullptr;
    void *data_ = nullptr;
};

// The elements [start, start + count) of a 1-D dataset, selected in its file space, and a memory
// space of count elements to read them into or write them from.
struct RangeSelection {
    Handle file_space;
    Handle memory_space;
};
// False on an HDF5 failure.
bool select_range(hid_t dataset, uint64_t start, uint64_t count, RangeSelection &selection);

// The scalar variable-length UTF-8 string type of text attributes.
Handle text_type();

} // namespace zv::recording
