// The layout of a recording file, written down once: the names of its group and datasets, every
// attribute with where its value lives, and the rows of its two tables. The writer creates what
// this file lists and the reader checks and reads the same list; the README documents it for
// readers without zv.
#pragma once

#include <cstddef>
#include <cstdint>

#include "libzv/libzv.h"

namespace zv::recording {

// What the "format" attribute holds, and the version of this layout.
constexpr const char *kFormatName = "zv recording";
constexpr int32_t kFormatVersion = 1;

// The group of the recording and the datasets in it.
constexpr const char *kGroup = "recording";
constexpr const char *kSamples = "samples";
constexpr const char *kGaps = "gaps";
constexpr const char *kChanges = "changes";
// The attribute of the samples dataset naming the unit of its values ("code" for raw words).
constexpr const char *kSamplesUnits = "units";

// The two kinds of sample, by ZV_RECORDING_RAW / ZV_RECORDING_FLOAT32.
struct KindRow {
    int kind;
    const char *name;   // the "kind" attribute
    size_t sample_size; // bytes per stored sample
};
constexpr KindRow kKinds[] = {
    {ZV_RECORDING_RAW, "raw", 2},
    {ZV_RECORDING_FLOAT32, "processed", 4},
};
// The row of a kind number; null for numbers that are not one.
const KindRow *find_kind(int kind);

// Gap kinds, named in the file by an HDF5 enumeration. "unknown" marks samples a block reported
// lost without saying where.
struct LossKindRow {
    int32_t kind;
    const char *name;
};
constexpr LossKindRow kLossKinds[] = {
    {0, "unknown"},
    {ZV_LOSS_DEVICE, "device"},
    {ZV_LOSS_OVERFLOW, "overflow"},
};
const char *loss_kind_name(int32_t kind);

// Power units as powers of ten of watts; the first name of each is the one written to files.
struct PowerUnitRow {
    int32_t exponent;
    const char *name;
};
constexpr PowerUnitRow kPowerUnits[] = {
    {-12, "pW"}, {-9, "nW"}, {-6, "uW"}, {-6, "µW"}, {-3, "mW"}, {0, "W"},
};
// The name of an exponent ("W x 1e-5" style text is the caller's business): null when none.
const char *power_unit_name(int32_t exponent);

// The rows of the two tables, as stored.
struct GapRow {
    uint64_t index; // stored sample before which the samples are missing
    uint64_t lost;  // samples missing
    int32_t kind;   // a kLossKinds number
};
constexpr size_t kChangeNameSize = sizeof(zv_setting_change::name);
struct ChangeRow {
    uint64_t index; // stored sample from which the setting applies
    char name[kChangeNameSize];
    double value;
};

// Everything the attributes of the group hold: the caller's description and what the library
// adds.
struct Header {
    zv_recording_info info;
    char format[16];
    int32_t format_version;
    char kind[16];
    char zv_version[16];
    char units_name[16];      // the name of info.units
    char start_utc[40];       // info.start_time in ISO 8601, UTC
    double first_sample_time; // UNIX time (s) of the first stored sample; 0 before it
};

enum class AttributeType { text, int32, float64 };

// One attribute: its name in the file, its type and shape, and its place in Header.
struct AttributeRow {
    const char *name;
    AttributeType type;
    size_t offset; // offsetof(Header, ...)
    size_t size;   // bytes of the field (for text: with its terminating zero)
    uint32_t rows; // shape of numbers: 1 x 1 for a scalar
    uint32_t columns;
};
extern const AttributeRow kAttributes[];
extern const size_t kAttributeCount;

// Fills the attributes the library adds (format, version, kind, zv version, unit name, start time
// as text) from the caller's description; start_time 0 becomes now.
Header make_header(const zv_recording_info &info, int kind);

} // namespace zv::recording
