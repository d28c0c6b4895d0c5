#include "recorder/recording_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "recorder/hdf5_support.h"
#include "recorder/recording_error.h"
#include "recorder/table_types.h"
#include "recorder/writer_lock.h"
#include "stream/auto_calibration.h"
#include "stream/calibrate.h"

namespace zv::recording {

namespace {

// Raw codes are turned into power this many at a time, so reading power needs little memory.
constexpr uint64_t kPowerPiece = 256 * 1024;

[[noreturn]] void fail(zv::Error entry, const std::string &message) {
    throw RecordingError(entry, message);
}

uint64_t extent_of(hid_t dataset) {
    Handle space(H5Dget_space(dataset), H5Sclose);
    hsize_t size = 0;
    if (H5Sget_simple_extent_ndims(space.get()) != 1) return 0;
    H5Sget_simple_extent_dims(space.get(), &size, nullptr);
    return size;
}

bool read_range(hid_t dataset, hid_t type, uint64_t start, uint64_t count, void *out) {
    if (count == 0) return true;
    RangeSelection range;
    return select_range(dataset, start, count, range) &&
           H5Dread(dataset, type, range.memory_space.get(), range.file_space.get(), H5P_DEFAULT,
                   out) >= 0;
}

// A calibration in force from a stored index on.
struct CalibrationSegment {
    uint64_t from;
    zv_calibration pair; // µW per code, µW
};

} // namespace

struct RecordingReader::Impl {
    std::string path;
    int kind = ZV_RECORDING_RAW;
    int state = ZV_RECORDING_CLOSED;
    Handle file, group, samples, gaps_table, changes_table;
    Header header{};
    std::vector<AttributeValue> attributes;
    std::vector<GapRow> gaps;
    std::vector<ChangeRow> changes;
    std::vector<CalibrationSegment> segments;
    uint64_t length = 0;

    [[noreturn]] void damaged(const std::string &cause) const {
        fail(zv::Error::file_error,
             "cannot read " + path + ": the file is damaged or truncated (" + cause + ")");
    }
    [[noreturn]] void not_recording(const std::string &why) const {
        fail(zv::Error::not_a_recording, path + " is not a zv recording: " + why);
    }

    void open_file();
    void check_layout();
    void read_tables();
    void find_segments();
    void check_range(uint64_t start, uint64_t count) const;
};

void RecordingReader::Impl::open_file() {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        fail(zv::Error::file_error, "cannot open " + path + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        fail(zv::Error::file_error, "cannot open " + path + ": it is a folder");
#if H5_VERSION_GE(1, 12, 0)
    const htri_t hdf5 = H5Fis_accessible(path.c_str(), H5P_DEFAULT);
#else
    const htri_t hdf5 = H5Fis_hdf5(path.c_str());
#endif
    if (hdf5 <= 0) not_recording("it is not an HDF5 file");

    // A file a writer holds, or one its writer did not close, opens only as a single-writer /
    // multiple-reader reader; the writer's lock tells the two apart.
    const bool writing = WriterLock::held(path);
    std::string cause;
    if (!writing) {
        file = Handle(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
        if (file.valid()) return;
        cause = hdf5_cause();
    }
    file = Handle(H5Fopen(path.c_str(), H5F_ACC_RDONLY | H5F_ACC_SWMR_READ, H5P_DEFAULT), H5Fclose);
    if (file.valid()) {
        state = writing ? ZV_RECORDING_WRITING : ZV_RECORDING_UNCLOSED;
        return;
    }
    if (writing)
        fail(zv::Error::file_error, "cannot read " + path +
                                        ": it is being created (a recording has opened it and not "
                                        "yet stored samples); try again in a moment");
    damaged(cause);
}

void RecordingReader::Impl::check_layout() {
    if (H5Lexists(file.get(), kGroup, H5P_DEFAULT) <= 0)
        not_recording(std::string("it has no group '") + kGroup + "'");
    group = Handle(H5Gopen2(file.get(), kGroup, H5P_DEFAULT), H5Gclose);
    if (!group.valid()) damaged(hdf5_cause());
    if (!read_attributes(group.get(), attributes)) damaged(hdf5_cause());
    const std::string missing = header_from(attributes, header);
    if (std::strcmp(header.format, kFormatName) != 0)
        not_recording(std::string("its group '") + kGroup + "' has no format attribute '" +
                      kFormatName + "'");
    if (header.format_version > kFormatVersion)
        fail(zv::Error::file_error,
             "cannot read " + path + ": it is a zv recording of a later format (version " +
                 std::to_string(header.format_version) + "); this zv reads version " +
                 std::to_string(kFormatVersion));
    if (!missing.empty()) damaged("attribute '" + missing + "' is missing or malformed");
    const KindRow *row = nullptr;
    for (const KindRow &k : kKinds)
        if (std::strcmp(header.kind, k.name) == 0) row = &k;
    if (!row) damaged(std::string("unknown kind '") + header.kind + "'");
    kind = row->kind;

    samples = Handle(H5Dopen2(group.get(), kSamples, H5P_DEFAULT), H5Dclose);
    gaps_table = Handle(H5Dopen2(group.get(), kGaps, H5P_DEFAULT), H5Dclose);
    changes_table = Handle(H5Dopen2(group.get(), kChanges, H5P_DEFAULT), H5Dclose);
    if (!samples.valid() || !gaps_table.valid() || !changes_table.valid())
        damaged(std::string("a dataset is missing: ") + hdf5_cause());
    Handle type(H5Dget_type(samples.get()), H5Tclose);
    if (H5Tequal(type.get(), sample_file_type(kind)) <= 0)
        damaged(std::string("the samples are not of the ") + row->name + " kind's type");
    length = extent_of(samples.get());
}

void RecordingReader::Impl::read_tables() {
    const uint64_t gap_rows = extent_of(gaps_table.get());
    const uint64_t change_rows = extent_of(changes_table.get());
    const uint64_t old_gaps = std::min<uint64_t>(gaps.size(), gap_rows);
    const uint64_t old_changes = std::min<uint64_t>(changes.size(), change_rows);
    gaps.resize(gap_rows);
    changes.resize(change_rows);
    if (!read_range(gaps_table.get(), gap_memory_type().get(), old_gaps, gap_rows - old_gaps,
                    gaps.data() + old_gaps) ||
        !read_range(changes_table.get(), change_memory_type().get(), old_changes,
                    change_rows - old_changes, changes.data() + old_changes))
        damaged(hdf5_cause());
    for (ChangeRow &change : changes)
        change.name[sizeof change.name - 1] = '\0';
    find_segments();
}

// The stored pair in use from each index: the recorded one, then, when the calibration follows
// the gain, the pair of each new gain setting, corrected to the wavelength as the library does
// (the responsivity rounded to single precision).
void RecordingReader::Impl::find_segments() {
    const zv_recording_info &info = header.info;
    segments.assign(1, CalibrationSegment{0, {info.calibration[0], info.calibration[1]}});
    if (!info.calibration_follows_gain) return;
    const double r = double(float(info.responsivity));
    for (const ChangeRow &change : changes) {
        if (std::strcmp(change.name, "highgain") != 0 || r == 0) continue;
        const double *stored = info.calibrations[change.value != 0 ? 0 : 1];
        zv_calibration pair{stored[0], stored[1]};
        if (pair.gain == 0 && pair.offset == 0) pair = {1.0, 0.0}; // never programmed
        segments.push_back(CalibrationSegment{change.index, {pair.gain / r, pair.offset / r}});
    }
}

void RecordingReader::Impl::check_range(uint64_t start, uint64_t count) const {
    if (start > length || count > length - start)
        fail(zv::Error::outside_recording,
             "samples " + std::to_string(start) + " to " + std::to_string(start + count) +
                 " are outside " + path + ", which holds " + std::to_string(length) + " samples");
}

RecordingReader::RecordingReader(const std::string &path) : impl_(std::make_unique<Impl>()) {
    impl_->path = path;
    impl_->open_file();
    impl_->check_layout();
    impl_->read_tables();
}

RecordingReader::~RecordingReader() = default;

const std::string &RecordingReader::path() const {
    return impl_->path;
}
int RecordingReader::kind() const {
    return impl_->kind;
}
int RecordingReader::state() const {
    return impl_->state;
}
uint64_t RecordingReader::length() const {
    return impl_->length;
}
const Header &RecordingReader::header() const {
    return impl_->header;
}
const std::vector<AttributeValue> &RecordingReader::attributes() const {
    return impl_->attributes;
}
const std::vector<GapRow> &RecordingReader::gaps() const {
    return impl_->gaps;
}
const std::vector<ChangeRow> &RecordingReader::changes() const {
    return impl_->changes;
}

uint64_t RecordingReader::refresh() {
    Impl &r = *impl_;
    if (r.state == ZV_RECORDING_CLOSED) return r.length; // nothing writes it
    if (H5Drefresh(r.samples.get()) < 0 || H5Drefresh(r.gaps_table.get()) < 0 ||
        H5Drefresh(r.changes_table.get()) < 0)
        r.damaged(hdf5_cause());
    r.length = extent_of(r.samples.get());
    r.read_tables();
    return r.length;
}

void RecordingReader::read(uint64_t start, uint64_t count, void *out) {
    Impl &r = *impl_;
    r.check_range(start, count);
    if (!read_range(r.samples.get(), sample_memory_type(r.kind), start, count, out))
        r.damaged(hdf5_cause());
}

void RecordingReader::read_power(uint64_t start, uint64_t count, int32_t units, float *out) {
    Impl &r = *impl_;
    r.check_range(start, count);
    if (r.kind == ZV_RECORDING_FLOAT32) {
        read(start, count, out);
        if (units == r.header.info.units) return;
        const auto factor =
            static_cast<float>(std::pow(10.0, double(r.header.info.units) - double(units)));
        for (uint64_t i = 0; i < count; ++i)
            out[i] *= factor;
        return;
    }
    std::vector<uint16_t> codes(std::min(count, kPowerPiece));
    const uint64_t end = start + count;
    for (uint64_t at = start; at < end;) {
        // The segment holding `at` and where the next one begins.
        size_t s = 0;
        while (s + 1 < r.segments.size() && r.segments[s + 1].from <= at)
            ++s;
        const uint64_t segment_end = s + 1 < r.segments.size() ? r.segments[s + 1].from : end;
        const uint64_t n = std::min({end - at, segment_end - at, kPowerPiece});
        read(at, n, codes.data());
        float scale = 1, offset = 0;
        scale_calibration(r.segments[s].pair, units, scale, offset);
        calibrate(codes.data(), static_cast<int32_t>(n), scale, offset, out + (at - start));
        at += n;
    }
}

} // namespace zv::recording
