#include "recorder/recording_writer.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

#include "recorder/hdf5_support.h"
#include "recorder/header_attributes.h"
#include "recorder/recording_error.h"
#include "recorder/recording_layout.h"
#include "recorder/stream_positions.h"
#include "recorder/table_types.h"
#include "recorder/write_behind.h"
#include "recorder/writer_lock.h"

namespace zv::recording {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kMinChunk = 16 * 1024;
constexpr uint64_t kMaxChunk = 1024 * 1024;
constexpr hsize_t kTableChunkRows = 256;
constexpr uint64_t kCloseRoom = 2 * 1024 * 1024;

uint64_t default_chunk(double samplerate) {
    uint64_t chunk = kMinChunk;
    while (chunk < kMaxChunk && double(chunk * 2) <= samplerate / 4)
        chunk *= 2;
    return chunk;
}

double unix_now() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return double(tv.tv_sec) + 1e-6 * double(tv.tv_usec);
}

std::string folder_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

[[noreturn]] void fail(zv::Error entry, const std::string &message) {
    throw RecordingError(entry, message);
}

// Refuses paths that cannot become a new recording, with the reason.
void check_target(const std::string &path, bool overwrite) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            fail(zv::Error::file_error, "cannot create " + path + ": it is a folder");
        if (!overwrite)
            fail(zv::Error::file_exists,
                 "cannot create " + path +
                     ": the file exists (choose another name or overwrite it)");
        if (WriterLock::held(path))
            fail(zv::Error::file_error,
                 "cannot create " + path + ": it is being written by another recording");
        return;
    }
    const std::string folder = folder_of(path);
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        fail(zv::Error::file_error,
             "cannot create " + path + ": the folder " + folder + " does not exist");
}

Handle create_table(hid_t group, const char *name, hid_t file_type) {
    const hsize_t zero = 0, unlimited = H5S_UNLIMITED;
    Handle space(H5Screate_simple(1, &zero, &unlimited), H5Sclose);
    Handle properties(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
    H5Pset_chunk(properties.get(), 1, &kTableChunkRows);
    return Handle(
        H5Dcreate2(group, name, file_type, space.get(), H5P_DEFAULT, properties.get(), H5P_DEFAULT),
        H5Dclose);
}

// Writes count elements of memory type `type` at [start, start + count) of a 1-D dataset, growing
// it first when they reach past its end.
bool write_range(hid_t dataset, hid_t type, uint64_t start, uint64_t count, uint64_t &extent,
                 const void *data) {
    if (count == 0) return true;
    if (start + count > extent) {
        const hsize_t size = start + count;
        if (H5Dset_extent(dataset, &size) < 0) return false;
        extent = size;
    }
    RangeSelection range;
    return select_range(dataset, start, count, range) &&
           H5Dwrite(dataset, type, range.memory_space.get(), range.file_space.get(), H5P_DEFAULT,
                    data) >= 0;
}

} // namespace

struct RecordingWriter::Impl {
    std::string path;
    int kind = ZV_RECORDING_RAW;
    size_t sample_size = 2;
    uint64_t chunk = kMinChunk;
    double flush_interval = 0.5;
    uint64_t reserve = 0;

    Handle file, group, samples, gaps, changes, gap_type, change_type;
    std::unique_ptr<WriterLock> lock;
    bool swmr = false;
    bool closed = false;

    // The chunk being filled: samples from stored index chunk_start on.
    std::vector<char> pending;
    uint64_t chunk_start = 0;
    uint64_t pending_count = 0;
    uint64_t pending_written = 0; // of pending_count, how many the file holds already
    uint64_t samples_extent = 0;

    StreamPositions positions;
    WriteBehind write_behind;
    std::vector<GapRow> gap_rows;       // not yet in the file
    std::vector<ChangeRow> change_rows; // not yet in the file
    uint64_t gaps_extent = 0, changes_extent = 0;

    Clock::time_point last_flush = Clock::now();
    std::optional<RecordingError> failure;
    bool stopping_for_room = false; // writing what it holds into the reserve, then closing

    uint64_t stored() const { return chunk_start + pending_count; }

    [[noreturn]] void write_failed(const std::string &cause);
    void check_room(uint64_t bytes);
    void start_swmr(double first_time);
    void write_samples(uint64_t start, uint64_t count, const void *data);
    void write_pending();
    void write_tables();
    void flush();
    void close_handles();
};

// Stops the writer for good: the message names the file, the cause and what the file holds.
void RecordingWriter::Impl::write_failed(const std::string &cause) {
    const uint64_t held = chunk_start + pending_written;
    failure.emplace(zv::Error::file_error,
                    "cannot write " + path + ": " + cause + "; the recording stopped, the file " +
                        "holds its first " + std::to_string(held) + " samples");
    // The dataset may have been grown for the write that failed: give it back the length of the
    // samples written, so the file does not claim samples it lacks.
    if (samples.valid() && samples_extent > held) {
        const hsize_t size = held;
        H5Dset_extent(samples.get(), &size);
    }
    close_handles();
    throw *failure;
}

// A write of `bytes` must leave the reserve free; else the writer stops before the disk is full,
// while there is still room to write what it holds and close the file cleanly.
void RecordingWriter::Impl::check_room(uint64_t bytes) {
    if (stopping_for_room) return;
    const uint64_t free = lock->free_bytes();
    if (free >= bytes + reserve) return;
    stopping_for_room = true;
    failure.emplace(zv::Error::file_error, "cannot write " + path + ": no space left on device (" +
                                               std::to_string(free / (1024 * 1024)) +
                                               " MiB free); the recording " +
                                               "stopped, the file holds its first " +
                                               std::to_string(stored()) + " samples");
    try {
        write_pending();
        write_tables();
    } catch (const RecordingError &) {
        throw *failure; // write_failed has closed the file and stored its own account
    }
    close_handles();
    throw *failure;
}

void RecordingWriter::Impl::start_swmr(double first_time) {
    if (!write_real(group.get(), "first_sample_time", first_time > 0 ? first_time : unix_now()) ||
        H5Fstart_swmr_write(file.get()) < 0)
        write_failed(hdf5_cause());
    swmr = true;
}

void RecordingWriter::Impl::write_samples(uint64_t start, uint64_t count, const void *data) {
    check_room(count * sample_size);
    if (!write_range(samples.get(), sample_memory_type(kind), start, count, samples_extent, data))
        write_failed(hdf5_cause());
}

void RecordingWriter::Impl::write_pending() {
    if (pending_count == pending_written) return;
    write_samples(chunk_start, pending_count, pending.data());
    pending_written = pending_count;
}

void RecordingWriter::Impl::write_tables() {
    if (!write_range(gaps.get(), gap_type.get(), gaps_extent, gap_rows.size(), gaps_extent,
                     gap_rows.data()) ||
        !write_range(changes.get(), change_type.get(), changes_extent, change_rows.size(),
                     changes_extent, change_rows.data()))
        write_failed(hdf5_cause());
    gap_rows.clear();
    change_rows.clear();
}

void RecordingWriter::Impl::flush() {
    if (failure) throw *failure;
    write_pending();
    write_tables();
    if (H5Fflush(file.get(), H5F_SCOPE_LOCAL) < 0) write_failed(hdf5_cause());
    write_behind.after_flush(lock->fd());
    last_flush = Clock::now();
}

void RecordingWriter::Impl::close_handles() {
    if (closed) return;
    closed = true;
    samples.reset();
    gaps.reset();
    changes.reset();
    group.reset();
    const bool ok = file.reset();
    lock.reset();
    if (!ok && !failure)
        failure.emplace(zv::Error::file_error, "cannot close " + path + ": " + hdf5_cause());
}

RecordingWriter::RecordingWriter(const std::string &path, const zv_recording_info &info, int kind,
                                 bool overwrite, const WriterOptions &options)
    : impl_(std::make_unique<Impl>()) {
    Impl &w = *impl_;
    const KindRow *row = find_kind(kind);
    if (!row)
        fail(zv::Error::invalid_parameters, "unknown kind of recording " + std::to_string(kind));
    if (!(info.samplerate > 0))
        fail(zv::Error::invalid_parameters,
             "cannot create " + path + ": the sample rate must be positive");
    check_target(path, overwrite);
    w.path = path;
    w.kind = kind;
    w.sample_size = row->sample_size;
    w.chunk = options.chunk_samples ? options.chunk_samples : default_chunk(info.samplerate);
    w.flush_interval = options.flush_interval;
    w.reserve = options.disk_reserve ? options.disk_reserve : w.chunk * w.sample_size + kCloseRoom;
    w.pending.resize(w.chunk * w.sample_size);

    Handle access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
    H5Pset_libver_bounds(access.get(), H5F_LIBVER_LATEST, H5F_LIBVER_LATEST);
    // No chunk cache: chunks are written whole from the writer's own buffer, so each write reaches
    // the file at once (a failure is seen where it happens) and nothing is copied twice. Set for
    // the file, as single-writer mode reopens the datasets with the file's defaults.
    int metadata_slots = 0;
    size_t slots = 0, bytes = 0;
    double w0 = 0;
    H5Pget_cache(access.get(), &metadata_slots, &slots, &bytes, &w0);
    H5Pset_cache(access.get(), metadata_slots, slots, 0, w0);
    w.file = Handle(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, access.get()), H5Fclose);
    if (!w.file.valid()) fail(zv::Error::file_error, "cannot create " + path + ": " + hdf5_cause());
    // A file that could not be made into a recording is not left behind.
    const auto creation_failed = [&w, &path] {
        const std::string cause = hdf5_cause();
        w.close_handles();
        ::unlink(path.c_str());
        fail(zv::Error::file_error, "cannot create " + path + ": " + cause);
    };
    try {
        w.lock = std::make_unique<WriterLock>(path);
    } catch (const RecordingError &) {
        w.close_handles();
        ::unlink(path.c_str());
        throw;
    }

    Handle group_properties(H5Pcreate(H5P_GROUP_CREATE), H5Pclose);
    H5Pset_attr_creation_order(group_properties.get(), H5P_CRT_ORDER_TRACKED);
    w.group =
        Handle(H5Gcreate2(w.file.get(), kGroup, H5P_DEFAULT, group_properties.get(), H5P_DEFAULT),
               H5Gclose);
    const Header header = make_header(info, kind);
    if (!w.group.valid() || !write_header(w.group.get(), header)) creation_failed();

    const hsize_t zero = 0, unlimited = H5S_UNLIMITED, chunk = w.chunk;
    Handle space(H5Screate_simple(1, &zero, &unlimited), H5Sclose);
    Handle properties(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
    H5Pset_chunk(properties.get(), 1, &chunk);
    H5Pset_fill_time(properties.get(), H5D_FILL_TIME_NEVER);
    w.samples = Handle(H5Dcreate2(w.group.get(), kSamples, sample_file_type(kind), space.get(),
                                  H5P_DEFAULT, properties.get(), H5P_DEFAULT),
                       H5Dclose);
    const char *units = kind == ZV_RECORDING_RAW ? "code" : header.units_name;
    if (!w.samples.valid() || !write_text(w.samples.get(), kSamplesUnits, units)) creation_failed();

    w.gap_type = gap_memory_type();
    w.change_type = change_memory_type();
    w.gaps = create_table(w.group.get(), kGaps, gap_file_type().get());
    w.changes = create_table(w.group.get(), kChanges, change_file_type().get());
    if (!w.gaps.valid() || !w.changes.valid() || H5Fflush(w.file.get(), H5F_SCOPE_LOCAL) < 0)
        creation_failed();
}

RecordingWriter::~RecordingWriter() {
    if (!impl_->closed && !impl_->failure) {
        try {
            impl_->flush();
        } catch (const RecordingError &) {
        }
    }
    impl_->close_handles();
}

void RecordingWriter::append(const void *data, const zv_block &block) {
    Impl &w = *impl_;
    if (w.failure) throw *w.failure;
    if (!w.swmr) w.start_swmr(block.time);
    w.positions.file_block(block, w.stored(), w.gap_rows, w.change_rows);
    const char *in = static_cast<const char *>(data);
    uint64_t left = block.count;
    while (left > 0) {
        if (w.pending_count == 0 && left >= w.chunk) {
            // Whole chunks go to the file straight from the caller's memory.
            const uint64_t whole = left / w.chunk * w.chunk;
            w.write_samples(w.chunk_start, whole, in);
            w.chunk_start += whole;
            in += whole * w.sample_size;
            left -= whole;
            continue;
        }
        const uint64_t take = std::min(left, w.chunk - w.pending_count);
        std::memcpy(w.pending.data() + w.pending_count * w.sample_size, in, take * w.sample_size);
        w.pending_count += take;
        in += take * w.sample_size;
        left -= take;
        if (w.pending_count == w.chunk) {
            w.pending_written = 0; // the whole chunk is written again, from its start
            w.write_pending();
            w.chunk_start += w.chunk;
            w.pending_count = w.pending_written = 0;
        }
    }
    flush_if_due();
}

void RecordingWriter::flush() {
    impl_->flush();
}

bool RecordingWriter::flush_if_due() {
    Impl &w = *impl_;
    const std::chrono::duration<double> since = Clock::now() - w.last_flush;
    if (since.count() < w.flush_interval) return false;
    w.flush();
    return true;
}

void RecordingWriter::close() {
    Impl &w = *impl_;
    if (w.failure) {
        w.close_handles();
        throw *w.failure;
    }
    if (w.closed) return;
    w.flush();
    w.close_handles();
    if (w.failure) throw *w.failure;
}

uint64_t RecordingWriter::samples() const {
    return impl_->stored();
}
uint64_t RecordingWriter::lost() const {
    return impl_->positions.lost();
}
uint64_t RecordingWriter::chunk_samples() const {
    return impl_->chunk;
}
int RecordingWriter::kind() const {
    return impl_->kind;
}
const std::string &RecordingWriter::path() const {
    return impl_->path;
}

} // namespace zv::recording
