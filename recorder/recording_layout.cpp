#include "recorder/recording_layout.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/time.h>

namespace zv::recording {

namespace {

// Rows of kAttributes: a text field, a 32-bit integer, a double, an array of doubles.
#define ZV_TEXT(name, field)                                                                       \
    { name, AttributeType::text, offsetof(Header, field), sizeof(Header::field), 1, 1 }
#define ZV_INT(name, field)                                                                        \
    { name, AttributeType::int32, offsetof(Header, field), sizeof(int32_t), 1, 1 }
#define ZV_REAL(name, field)                                                                       \
    { name, AttributeType::float64, offsetof(Header, field), sizeof(double), 1, 1 }
#define ZV_REALS(name, field, rows, columns)                                                       \
    {                                                                                              \
        name, AttributeType::float64, offsetof(Header, field), sizeof(double) * rows *columns,     \
            rows, columns                                                                          \
    }

} // namespace

// Every attribute of the group, in the order the README lists them.
const AttributeRow kAttributes[] = {
    ZV_TEXT("format", format),
    ZV_INT("format_version", format_version),
    ZV_TEXT("kind", kind),
    ZV_TEXT("zv_version", zv_version),
    ZV_TEXT("serial", info.serial),
    ZV_TEXT("product", info.product),
    ZV_TEXT("firmware", info.firmware),
    ZV_REAL("samplerate", info.samplerate),
    ZV_REAL("device_samplerate", info.device_samplerate),
    ZV_INT("adc_bits", info.adc_bits),
    ZV_INT("high_gain", info.high_gain),
    ZV_REALS("calibrations", info.calibrations, ZV_RECORDING_PAIRS, 2),
    ZV_INT("calibration_pair", info.calibration_pair),
    ZV_INT("calibration_follows_gain", info.calibration_follows_gain),
    ZV_REAL("wavelength", info.wavelength),
    ZV_REAL("responsivity", info.responsivity),
    ZV_REALS("calibration", info.calibration, 1, 2),
    ZV_TEXT("units", units_name),
    ZV_INT("units_exponent", info.units),
    ZV_TEXT("filter", info.filter),
    ZV_REAL("cutoff", info.cutoff),
    ZV_INT("downsampling", info.downsampling),
    ZV_INT("decimation", info.decimation),
    ZV_INT("port_bits_masked", info.port_bits_masked),
    ZV_TEXT("start_utc", start_utc),
    ZV_REAL("start_time", info.start_time),
    ZV_REAL("first_sample_time", first_sample_time),
};
const size_t kAttributeCount = sizeof(kAttributes) / sizeof(kAttributes[0]);

#undef ZV_TEXT
#undef ZV_INT
#undef ZV_REAL
#undef ZV_REALS

const KindRow *find_kind(int kind) {
    for (const KindRow &row : kKinds)
        if (row.kind == kind) return &row;
    return nullptr;
}

const char *loss_kind_name(int32_t kind) {
    for (const LossKindRow &row : kLossKinds)
        if (row.kind == kind) return row.name;
    return kLossKinds[0].name;
}

const char *power_unit_name(int32_t exponent) {
    for (const PowerUnitRow &row : kPowerUnits)
        if (row.exponent == exponent) return row.name;
    return nullptr;
}

namespace {

double now() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return double(tv.tv_sec) + 1e-6 * double(tv.tv_usec);
}

// "2024-05-01T12:00:00.123456Z" for a UNIX time.
void iso8601(double seconds, char *out, size_t size) {
    double whole = std::floor(seconds);
    auto t = static_cast<time_t>(whole);
    auto micro = static_cast<int>(std::lround((seconds - whole) * 1e6));
    if (micro >= 1000000) {
        ++t;
        micro -= 1000000;
    }
    tm utc{};
    gmtime_r(&t, &utc);
    char date[24];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(out, size, "%.19s.%06dZ", date, micro % 1000000);
}

template <size_t N> void copy_text(char (&to)[N], const char *from) {
    std::snprintf(to, N, "%s", from);
}

} // namespace

Header make_header(const zv_recording_info &info, int kind) {
    Header h{};
    h.info = info;
    // The caller's text fields may fill their arrays: make sure each ends.
    h.info.serial[sizeof h.info.serial - 1] = '\0';
    h.info.product[sizeof h.info.product - 1] = '\0';
    h.info.firmware[sizeof h.info.firmware - 1] = '\0';
    h.info.filter[sizeof h.info.filter - 1] = '\0';
    if (h.info.start_time == 0) h.info.start_time = now();
    copy_text(h.format, kFormatName);
    h.format_version = kFormatVersion;
    const KindRow *row = find_kind(kind);
    copy_text(h.kind, row ? row->name : "");
    std::snprintf(h.zv_version, sizeof h.zv_version, "%d.%d.%d", ZV_VERSION_MAJOR, ZV_VERSION_MINOR,
                  ZV_VERSION_PATCH);
    const char *unit = power_unit_name(info.units);
    if (unit)
        copy_text(h.units_name, unit);
    else
        std::snprintf(h.units_name, sizeof h.units_name, "W x 1e%d", int(info.units));
    iso8601(h.info.start_time, h.start_utc, sizeof h.start_utc);
    return h;
}

} // namespace zv::recording
