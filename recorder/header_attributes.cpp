#include "recorder/header_attributes.h"

#include <exception>

#include <cstdio>
#include <cstring>

namespace zv::recording {

namespace {

const char *field(const Header &header, const AttributeRow &row) {
    return reinterpret_cast<const char *>(&header) + row.offset;
}

char *field(Header &header, const AttributeRow &row) {
    return reinterpret_cast<char *>(&header) + row.offset;
}

bool write_attribute(hid_t loc, const char *name, hid_t type, hid_t space, const void *data) {
    if (H5Aexists(loc, name) > 0 && H5Adelete(loc, name) < 0) return false;
    Handle attribute(H5Acreate2(loc, name, type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
    return attribute.valid() && H5Awrite(attribute.get(), type, data) >= 0;
}

bool write_row(hid_t loc, const Header &header, const AttributeRow &row) {
    if (row.type == AttributeType::text) return write_text(loc, row.name, field(header, row));
    Handle space;
    if (row.rows == 1 && row.columns == 1) {
        space = Handle(H5Screate(H5S_SCALAR), H5Sclose);
    } else {
        const hsize_t dims[2] = {row.rows, row.columns};
        space = row.rows == 1 ? Handle(H5Screate_simple(1, dims + 1, nullptr), H5Sclose)
                              : Handle(H5Screate_simple(2, dims, nullptr), H5Sclose);
    }
    const bool integer = row.type == AttributeType::int32;
    Handle file_type(H5Tcopy(integer ? H5T_STD_I32LE : H5T_IEEE_F64LE), H5Tclose);
    return write_attribute(loc, row.name, file_type.get(), space.get(), field(header, row));
}

// Reads one attribute; false when it is neither text nor numbers.
bool read_one(hid_t attribute, AttributeValue &value) {
    Handle type(H5Aget_type(attribute), H5Tclose);
    Handle space(H5Aget_space(attribute), H5Sclose);
    const H5T_class_t type_class = H5Tget_class(type.get());
    const int rank = H5Sget_simple_extent_ndims(space.get());
    if (rank < 0 || rank > 2) return false;
    hsize_t dims[2] = {1, 1};
    H5Sget_simple_extent_dims(space.get(), dims, nullptr);
    if (type_class == H5T_STRING) {
        if (rank != 0) return false;
        value.is_text = true;
        if (H5Tis_variable_str(type.get()) > 0) {
            char *text = nullptr;
            Handle memory = text_type();
            if (H5Aread(attribute, memory.get(), &text) < 0) return false;
            value.text = text ? text : "";
            H5free_memory(text);
        } else {
            std::vector<char> text(H5Tget_size(type.get()) + 1, '\0');
            Handle memory(H5Tcopy(H5T_C_S1), H5Tclose);
            H5Tset_size(memory.get(), text.size());
            if (H5Aread(attribute, memory.get(), text.data()) < 0) return false;
            value.text = text.data();
        }
        return true;
    }
    if (type_class != H5T_INTEGER && type_class != H5T_FLOAT) return false;
    value.integer = type_class == H5T_INTEGER;
    value.rows = rank == 2 ? uint32_t(dims[0]) : 1;
    value.columns = rank == 2 ? uint32_t(dims[1]) : rank == 1 ? uint32_t(dims[0]) : 1;
    value.values.resize(size_t(value.rows) * value.columns);
    return H5Aread(attribute, H5T_NATIVE_DOUBLE, value.values.data()) >= 0;
}

// What an iteration over the attributes collects, and the exception that stopped it: nothing may
// be thrown back through HDF5's iteration, so it is kept and thrown again once HDF5 returned.
struct Collected {
    std::vector<AttributeValue> &out;
    std::exception_ptr failure;
};

herr_t collect(hid_t loc, const char *name, const H5A_info_t *, void *data) noexcept {
    auto &collected = *static_cast<Collected *>(data);
    try {
        Handle attribute(H5Aopen(loc, name, H5P_DEFAULT), H5Aclose);
        if (!attribute.valid()) return -1;
        AttributeValue value;
        value.name = name;
        if (read_one(attribute.get(), value)) collected.out.push_back(std::move(value));
        return 0;
    } catch (...) {
        collected.failure = std::current_exception();
        return -1;
    }
}

// Iterates over the attributes in `order`; false when HDF5 failed.
bool collect_all(hid_t loc, H5_index_t order, std::vector<AttributeValue> &out) {
    Collected collected{out, nullptr};
    hsize_t at = 0;
    const bool ok = H5Aiterate2(loc, order, H5_ITER_INC, &at, collect, &collected) >= 0;
    if (collected.failure) std::rethrow_exception(collected.failure);
    return ok;
}

} // namespace

bool write_header(hid_t loc, const Header &header) {
    for (size_t i = 0; i < kAttributeCount; ++i)
        if (!write_row(loc, header, kAttributes[i])) return false;
    return true;
}

bool write_real(hid_t loc, const char *name, double value) {
    Handle space(H5Screate(H5S_SCALAR), H5Sclose);
    return write_attribute(loc, name, H5T_IEEE_F64LE, space.get(), &value);
}

bool write_text(hid_t loc, const char *name, const char *text) {
    Handle space(H5Screate(H5S_SCALAR), H5Sclose);
    return write_attribute(loc, name, text_type().get(), space.get(), &text);
}

bool read_attributes(hid_t loc, std::vector<AttributeValue> &out) {
    // In the order they were written where the file tracks it (zv's files do), else by name.
    if (collect_all(loc, H5_INDEX_CRT_ORDER, out)) return true;
    out.clear();
    return collect_all(loc, H5_INDEX_NAME, out);
}

std::string header_from(const std::vector<AttributeValue> &attributes, Header &header) {
    header = Header{};
    for (size_t i = 0; i < kAttributeCount; ++i) {
        const AttributeRow &row = kAttributes[i];
        const AttributeValue *found = nullptr;
        for (const AttributeValue &value : attributes)
            if (value.name == row.name) found = &value;
        if (!found) return row.name;
        if (row.type == AttributeType::text) {
            if (!found->is_text) return row.name;
            std::snprintf(field(header, row), row.size, "%s", found->text.c_str());
            continue;
        }
        if (found->is_text || found->rows != row.rows || found->columns != row.columns)
            return row.name;
        for (size_t k = 0; k < found->values.size(); ++k) {
            if (row.type == AttributeType::int32) {
                const auto v = static_cast<int32_t>(found->values[k]);
                std::memcpy(field(header, row) + k * sizeof v, &v, sizeof v);
            } else {
                std::memcpy(field(header, row) + k * sizeof(double), &found->values[k],
                            sizeof(double));
            }
        }
    }
    return {};
}

} // namespace zv::recording
