// The C interface of the recorder (libzv.h): each function forwards to the C++ writer, reader or
// repair inside one guard that keeps HDF5 quiet and turns exceptions into the last-error state
// (c_guard.h).
#include <cstring>
#include <string>

#include "libzv/c_boundary.h"
#include "libzv/errors.h"
#include "recorder/c_guard.h"
#include "recorder/recording_layout.h"
#include "recorder/recording_reader.h"
#include "recorder/recording_repair.h"
#include "recorder/recording_writer.h"

struct zv_recording_writer {
    zv::recording::RecordingWriter writer;
    zv_recording_writer(const char *path, const zv_recording_info &info, int kind, bool overwrite)
        : writer(path, info, kind, overwrite) {}
};

struct zv_recording {
    zv::recording::RecordingReader reader;
    // The attributes as the C interface hands them out, pointing into the reader's.
    std::vector<zv_recording_attribute> attributes;
    explicit zv_recording(const char *path) : reader(path) {
        for (const auto &a : reader.attributes())
            attributes.push_back(zv_recording_attribute{
                a.name.c_str(), a.is_text ? a.text.c_str() : nullptr,
                a.is_text ? nullptr : a.values.data(), a.rows, a.columns, a.integer});
    }
};

namespace {

using zv::recording::guarded;
using zv::recording::missing;

template <typename Sample>
int append(zv_recording_writer *writer, const Sample *samples, const zv_block *block, int kind) {
    if (missing(writer) || missing(block) || (block->count && missing(samples))) {
        return ZV_ERROR_INVALID_ARGUMENT;
    }
    if (writer->writer.kind() != kind)
        return zv::set_error_text(zv::Error::invalid_parameters,
                                  "the samples are not of the recording's kind");
    return guarded([&] {
        writer->writer.append(samples, *block);
        return 0;
    });
}

} // namespace

extern "C" {

zv_recording_writer *zv_recording_writer_open(const char *path, const zv_recording_info *info,
                                              int kind, bool overwrite) {
    if (missing(path) || missing(info)) return nullptr;
    zv_recording_writer *writer = nullptr;
    guarded([&] {
        writer = new zv_recording_writer(path, *info, kind, overwrite);
        return 0;
    });
    return writer;
}

int zv_recording_writer_append_raw(zv_recording_writer *writer, const uint16_t *samples,
                                   const zv_block *block) {
    return append(writer, samples, block, ZV_RECORDING_RAW);
}

int zv_recording_writer_append_float(zv_recording_writer *writer, const float *samples,
                                     const zv_block *block) {
    return append(writer, samples, block, ZV_RECORDING_FLOAT32);
}

int zv_recording_writer_flush(zv_recording_writer *writer) {
    if (missing(writer)) return ZV_ERROR_INVALID_ARGUMENT;
    return guarded([&] {
        writer->writer.flush();
        return 0;
    });
}

uint64_t zv_recording_writer_samples(zv_recording_writer *writer) {
    return writer ? writer->writer.samples() : 0;
}

uint64_t zv_recording_writer_lost(zv_recording_writer *writer) {
    return writer ? writer->writer.lost() : 0;
}

int zv_recording_writer_close(zv_recording_writer *writer) {
    if (!writer) return 0;
    const int status = guarded([&] {
        writer->writer.close();
        return 0;
    });
    guarded([&] {
        delete writer;
        return 0;
    });
    return status;
}

zv_recording *zv_recording_open(const char *path) {
    if (missing(path)) return nullptr;
    zv_recording *rec = nullptr;
    guarded([&] {
        rec = new zv_recording(path);
        return 0;
    });
    return rec;
}

void zv_recording_close(zv_recording *rec) {
    guarded([&] {
        delete rec;
        return 0;
    });
}

int zv_recording_refresh(zv_recording *rec) {
    if (missing(rec)) return ZV_ERROR_INVALID_ARGUMENT;
    return guarded([&] {
        rec->reader.refresh();
        return 0;
    });
}

uint64_t zv_recording_length(zv_recording *rec) {
    return rec ? rec->reader.length() : 0;
}
int zv_recording_kind(zv_recording *rec) {
    return rec ? rec->reader.kind() : -1;
}
int zv_recording_state(zv_recording *rec) {
    return rec ? rec->reader.state() : -1;
}

int zv_recording_get_info(zv_recording *rec, zv_recording_info *info) {
    if (missing(rec) || missing(info)) return ZV_ERROR_INVALID_ARGUMENT;
    *info = rec->reader.header().info;
    return 0;
}

int zv_recording_attribute_count(zv_recording *rec) {
    return rec ? static_cast<int>(rec->attributes.size()) : 0;
}

int zv_recording_get_attribute(zv_recording *rec, int i, zv_recording_attribute *attribute) {
    if (missing(rec) || missing(attribute)) return ZV_ERROR_INVALID_ARGUMENT;
    if (i < 0 || size_t(i) >= rec->attributes.size())
        return zv::set_error(zv::Error::invalid_parameters);
    *attribute = rec->attributes[size_t(i)];
    return 0;
}

uint64_t zv_recording_gap_count(zv_recording *rec) {
    return rec ? rec->reader.gaps().size() : 0;
}

int zv_recording_get_gaps(zv_recording *rec, uint64_t first, uint64_t count, zv_gap *gaps) {
    if (missing(rec) || (count && missing(gaps))) return ZV_ERROR_INVALID_ARGUMENT;
    const auto &rows = rec->reader.gaps();
    if (first > rows.size() || count > rows.size() - first)
        return zv::set_error(zv::Error::invalid_parameters);
    for (uint64_t i = 0; i < count; ++i)
        gaps[i] = zv_gap{rows[first + i].index, rows[first + i].lost, rows[first + i].kind};
    return 0;
}

uint64_t zv_recording_change_count(zv_recording *rec) {
    return rec ? rec->reader.changes().size() : 0;
}

int zv_recording_get_changes(zv_recording *rec, uint64_t first, uint64_t count,
                             zv_setting_change *changes) {
    if (missing(rec) || (count && missing(changes))) return ZV_ERROR_INVALID_ARGUMENT;
    const auto &rows = rec->reader.changes();
    if (first > rows.size() || count > rows.size() - first)
        return zv::set_error(zv::Error::invalid_parameters);
    for (uint64_t i = 0; i < count; ++i) {
        zv_setting_change &out = changes[i];
        out.index = rows[first + i].index;
        std::memcpy(out.name, rows[first + i].name, sizeof out.name);
        out.value = rows[first + i].value;
    }
    return 0;
}

int zv_recording_read_raw(zv_recording *rec, uint64_t start, uint64_t count, uint16_t *out) {
    if (missing(rec) || (count && missing(out))) return ZV_ERROR_INVALID_ARGUMENT;
    if (rec->reader.kind() != ZV_RECORDING_RAW)
        return zv::set_error_text(zv::Error::invalid_parameters,
                                  "a processed recording holds float32 samples, not raw words");
    return guarded([&] {
        rec->reader.read(start, count, out);
        return 0;
    });
}

int zv_recording_read_float(zv_recording *rec, uint64_t start, uint64_t count, float *out) {
    if (missing(rec) || (count && missing(out))) return ZV_ERROR_INVALID_ARGUMENT;
    if (rec->reader.kind() != ZV_RECORDING_FLOAT32)
        return zv::set_error_text(zv::Error::invalid_parameters,
                                  "a raw recording holds 16-bit words, not float32 samples");
    return guarded([&] {
        rec->reader.read(start, count, out);
        return 0;
    });
}

int zv_recording_read_power(zv_recording *rec, uint64_t start, uint64_t count, int32_t units,
                            float *out) {
    if (missing(rec) || (count && missing(out))) return ZV_ERROR_INVALID_ARGUMENT;
    return guarded([&] {
        rec->reader.read_power(start, count, units, out);
        return 0;
    });
}

const char *zv_loss_kind_name(int32_t kind) {
    return zv::recording::loss_kind_name(kind);
}

int zv_power_unit_exponent(const char *name, int32_t *exponent) {
    if (missing(name) || missing(exponent)) return ZV_ERROR_INVALID_ARGUMENT;
    return zv::c_status([&] {
        for (const auto &row : zv::recording::kPowerUnits)
            if (std::strcmp(row.name, name) == 0) {
                *exponent = row.exponent;
                return 0;
            }
        std::string message = "unknown power unit '" + std::string(name) + "'; use one of ";
        for (const auto &row : zv::recording::kPowerUnits)
            message += std::string(&row == zv::recording::kPowerUnits ? "" : ", ") + row.name;
        return zv::set_error_text(zv::Error::invalid_parameters, message.c_str());
    });
}

int zv_recording_repair(const char *path) {
    if (missing(path)) return ZV_ERROR_INVALID_ARGUMENT;
    return guarded([&] {
        zv::recording::repair(path);
        return 0;
    });
}

} // extern "C"
