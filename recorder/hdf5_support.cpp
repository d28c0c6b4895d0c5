#include "recorder/hdf5_support.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace zv::recording {

namespace {

// Walking upward starts at the innermost error (number 0), where the library met the cause.
// Nothing may be thrown back through HDF5: short of memory for the text, the walk just stops.
herr_t keep_innermost(unsigned n, const H5E_error2_t *error, void *data) noexcept {
    try {
        if (n == 0 && error->desc) *static_cast<std::string *>(data) = error->desc;
        return 0;
    } catch (...) {
        return -1;
    }
}

// The errno that HDF5's file drivers write into their descriptions as "errno = N", or 0.
int errno_in(const std::string &text) {
    const size_t at = text.find("errno = ");
    if (at == std::string::npos) return 0;
    return std::atoi(text.c_str() + at + 8);
}

} // namespace

std::string hdf5_cause() {
    std::string text;
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_UPWARD, keep_innermost, &text);
    if (int number = errno_in(text)) {
        text = std::strerror(number);
        if (!text.empty()) text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
    }
    for (char &c : text)
        if (c == '\n' || c == '\r') c = ' '; // messages are one line
    return text.empty() ? "unknown HDF5 error" : text;
}

bool Handle::reset() {
    bool ok = true;
    if (id_ >= 0 && closer_) {
        // Closing would clear the errors of a failure being reported: keep them across it.
        if (H5Eget_num(H5E_DEFAULT) > 0) {
            const hid_t errors = H5Eget_current_stack();
            ok = closer_(id_) >= 0;
            H5Eset_current_stack(errors);
        } else {
            ok = closer_(id_) >= 0;
        }
    }
    id_ = -1;
    return ok;
}

QuietHdf5::QuietHdf5() {
    H5Eget_auto2(H5E_DEFAULT, &function_, &data_);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

QuietHdf5::~QuietHdf5() {
    H5Eset_auto2(H5E_DEFAULT, function_, data_);
}

bool select_range(hid_t dataset, uint64_t start, uint64_t count, RangeSelection &selection) {
    selection.file_space = Handle(H5Dget_space(dataset), H5Sclose);
    const hsize_t offset = start, n = count;
    if (!selection.file_space.valid() ||
        H5Sselect_hyperslab(selection.file_space.get(), H5S_SELECT_SET, &offset, nullptr, &n,
                            nullptr) < 0)
        return false;
    selection.memory_space = Handle(H5Screate_simple(1, &n, nullptr), H5Sclose);
    return selection.memory_space.valid();
}

Handle text_type() {
    Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
    H5Tset_size(type.get(), H5T_VARIABLE);
    H5Tset_cset(type.get(), H5T_CSET_UTF8);
    return type;
}

} // namespace zv::recording
