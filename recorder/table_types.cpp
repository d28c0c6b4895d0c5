#include "recorder/table_types.h"

#include "recorder/recording_layout.h"

namespace zv::recording {

hid_t sample_file_type(int kind) {
    return kind == ZV_RECORDING_RAW ? H5T_STD_U16LE : H5T_IEEE_F32LE;
}

hid_t sample_memory_type(int kind) {
    return kind == ZV_RECORDING_RAW ? H5T_NATIVE_UINT16 : H5T_NATIVE_FLOAT;
}

namespace {

Handle loss_kind_type(hid_t base) {
    Handle type(H5Tenum_create(base), H5Tclose);
    for (const LossKindRow &row : kLossKinds) {
        int32_t value = row.kind;
        H5Tenum_insert(type.get(), row.name, &value);
    }
    return type;
}

Handle name_type() {
    Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
    H5Tset_size(type.get(), kChangeNameSize);
    H5Tset_strpad(type.get(), H5T_STR_NULLTERM);
    return type;
}

// Bytes of a row in the file: the members packed in order.
constexpr size_t kGapFileSize = 8 + 8 + 4;
constexpr size_t kChangeFileSize = 8 + kChangeNameSize + 8;

} // namespace

Handle gap_file_type() {
    Handle type(H5Tcreate(H5T_COMPOUND, kGapFileSize), H5Tclose);
    H5Tinsert(type.get(), "index", 0, H5T_STD_U64LE);
    H5Tinsert(type.get(), "lost", 8, H5T_STD_U64LE);
    H5Tinsert(type.get(), "kind", 16, loss_kind_type(H5T_STD_I32LE).get());
    return type;
}

Handle gap_memory_type() {
    Handle type(H5Tcreate(H5T_COMPOUND, sizeof(GapRow)), H5Tclose);
    H5Tinsert(type.get(), "index", offsetof(GapRow, index), H5T_NATIVE_UINT64);
    H5Tinsert(type.get(), "lost", offsetof(GapRow, lost), H5T_NATIVE_UINT64);
    H5Tinsert(type.get(), "kind", offsetof(GapRow, kind), loss_kind_type(H5T_NATIVE_INT32).get());
    return type;
}

Handle change_file_type() {
    Handle type(H5Tcreate(H5T_COMPOUND, kChangeFileSize), H5Tclose);
    H5Tinsert(type.get(), "index", 0, H5T_STD_U64LE);
    H5Tinsert(type.get(), "name", 8, name_type().get());
    H5Tinsert(type.get(), "value", 8 + kChangeNameSize, H5T_IEEE_F64LE);
    return type;
}

Handle change_memory_type() {
    Handle type(H5Tcreate(H5T_COMPOUND, sizeof(ChangeRow)), H5Tclose);
    H5Tinsert(type.get(), "index", offsetof(ChangeRow, index), H5T_NATIVE_UINT64);
    H5Tinsert(type.get(), "name", offsetof(ChangeRow, name), name_type().get());
    H5Tinsert(type.get(), "value", offsetof(ChangeRow, value), H5T_NATIVE_DOUBLE);
    return type;
}

} // namespace zv::recording
