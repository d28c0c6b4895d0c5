#include "recorder/recorder.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <new>
#include <vector>

#include "libzv/errors.h"
#include "libzv/interrupt.h"
#include "recorder/hdf5_support.h"
#include "recorder/recording_error.h"
#include "recorder/recording_layout.h"

namespace zv::recording {

namespace {

using Clock = std::chrono::steady_clock;

// How long one read waits for samples: the thread answers stop() and flushes what it holds at
// least this often when the stream pauses.
constexpr int32_t kReadTimeoutMs = 100;
// How much lower than the rest of the program a raw recording's thread runs (nice steps).
constexpr int kWriterNiceness = 5;

// A raw recording's thread only copies and writes, and that can wait: the stream's ring holds the
// samples meanwhile. The acquisition cannot, so the thread yields the processor to it (writing
// to the file, the page cache and the file system's bookkeeping cost processor time that would
// otherwise compete with it). A processed recording's thread also processes the samples as it
// reads them, which must keep pace, so it keeps the program's priority. (A lowered thread could
// not come back up without privilege, so the choice is made once.)
void lower_raw_writer_priority(int kind) {
    if (kind != ZV_RECORDING_RAW) return;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0); // Linux: the calling thread's own
    if (errno == 0) setpriority(PRIO_PROCESS, 0, std::min(nice + kWriterNiceness, 19));
}

// Samples per read, in chunks of the file: whole chunks go to the file without a copy.
constexpr uint64_t kChunksPerRead = 4;

bool options_valid(const RecorderOptions &o) {
    return o.seconds >= 0 && std::isfinite(o.seconds) && o.buffer_seconds > 0 &&
           std::isfinite(o.buffer_seconds);
}

// The stream position after the block's last sample: lost positions inside it counted.
uint64_t position_after(const zv_block &block) {
    uint64_t inside = 0;
    for (uint32_t i = 0; i < block.ngaps; ++i)
        if (block.gaps[i].index >= block.index) inside += block.gaps[i].lost;
    return block.index + block.count + inside;
}

} // namespace

Recorder::Recorder(std::unique_ptr<RecordedStream> stream, const std::string &path,
                   const RecorderOptions &options)
    : stream_(std::move(stream)), path_(path), options_(options) {}

std::unique_ptr<Recorder> Recorder::start(std::unique_ptr<RecordedStream> stream,
                                          const std::string &path, const RecorderOptions &options) {
    if (!stream || !options_valid(options)) {
        set_error(Error::invalid_parameters);
        return nullptr;
    }
    const QuietHdf5 quiet;
    std::unique_ptr<Recorder> r(new Recorder(std::move(stream), path, options));
    RecordedStream &s = *r->stream_;
    if (!s.claim().claim(r.get())) return nullptr;
    // Undoes what was done when a later step fails; the failing step's error stays stored.
    bool file_created = false;
    const auto give_up = [&] {
        if (r->started_stream_) s.stop();
        if (file_created) {
            r->writer_.reset();
            ::unlink(path.c_str());
        }
        s.claim().release(r.get());
        return nullptr;
    };
    try {
        zv_recording_info info{};
        if (s.describe(info) != 0) return give_up();
        r->writer_ = std::make_unique<RecordingWriter>(path, info, s.kind(), options.overwrite,
                                                       options.writer);
        file_created = true;
        if (!s.running()) {
            const ActingFor acting(r.get());
            if (s.start(options.buffer_seconds) != 0) return give_up();
            r->started_stream_ = true;
        }
        // The seconds as stream positions, counted from the first sample read.
        if (options.seconds > 0) r->span_ = uint64_t(std::ceil(options.seconds * s.samplerate()));
        r->read_size_ = r->writer_->chunk_samples() * kChunksPerRead;
        s.set_max_read(r->read_size_);
        r->thread_ = std::thread(&Recorder::run, r.get());
    } catch (const RecordingError &e) {
        set_error_text(e.entry(), e.what());
        return give_up();
    } catch (const std::bad_alloc &) {
        set_error(Error::out_of_memory);
        return give_up();
    } catch (const std::system_error &) {
        set_error(Error::out_of_memory); // no thread could be made
        return give_up();
    }
    return r;
}

Recorder::~Recorder() {
    stop();
}

void Recorder::run() {
    const ActingFor acting(this);
    ignore_interrupts_on_this_thread();
    lower_raw_writer_priority(stream_->kind());
    const QuietHdf5 quiet;
    std::string message;
    int status = 0;
    try {
        status = record(message);
    } catch (const RecordingError &e) {
        status = error_code(e.entry());
        message = e.what();
    } catch (const std::bad_alloc &) {
        status = error_code(Error::out_of_memory);
        message = error_message(Error::out_of_memory);
    }
    try {
        writer_->close();
    } catch (const RecordingError &e) {
        if (status == 0) {
            status = error_code(e.entry());
            message = e.what();
        }
    }
    // What the recording used is given back now; the recorder may be kept long after.
    writer_.reset();
    stream_->set_max_read(0);
    if (started_stream_) stream_->stop();
    stream_->claim().release(this);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        status_ = status;
        message_ = message;
        finished_ = true;
    }
    ended_.notify_all();
}

int Recorder::record(std::string &message) {
    RecordingWriter &writer = *writer_;
    std::vector<char> buffer(read_size_ * (stream_->kind() == ZV_RECORDING_RAW ? 2 : 4));
    const uint64_t span = span_;
    bool positioned = false;
    uint64_t next_position = 0, end_position = 0;
    const auto limited = [&] { return options_.nsamples > 0 || span > 0; };
    const auto stored_note = [&] {
        return "; the recording " + path_ + " holds its first " + std::to_string(writer.samples()) +
               " samples";
    };

    while (!stop_requested_.load()) {
        uint64_t want = read_size_;
        if (options_.nsamples > 0) want = std::min(want, options_.nsamples - writer.samples());
        if (span > 0) want = std::min(want, positioned ? end_position - next_position : span);
        if (want == 0) return 0;

        zv_block block{};
        const int status = stream_->read(buffer.data(), want, kReadTimeoutMs, block);
        if (block.count > 0 || block.ngaps > 0 || block.nchanges > 0) {
            if (span > 0 && block.count > 0) {
                if (!positioned) end_position = block.index + span;
                positioned = true;
                next_position = std::min(position_after(block), end_position);
            }
            if (options_.before_append) options_.before_append();
            writer.append(buffer.data(), block);
            samples_ = writer.samples();
            lost_ = writer.lost();
        }
        if (status == 0) continue;
        if (status == ZV_ERROR_TIMEOUT) {
            writer.flush_if_due();
            continue;
        }
        if (status == ZV_ERROR_STREAM_STATE) {
            // Stopped by its owner: the end of a recording without limits, an early end of one
            // with limits.
            if (!limited()) return 0;
            message = "the stream was stopped before the recording was complete" + stored_note();
            return status;
        }
        message = std::string(zv_get_error_string()) + stored_note();
        return status;
    }
    return 0;
}

int Recorder::outcome() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_ == 0) return 0;
    return store_error(status_, message_.c_str());
}

int Recorder::wait(int32_t timeout_ms) {
    begin_interruptible_call();
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
    std::unique_lock<std::mutex> lock(mutex_);
    while (!finished_.load()) {
        auto until = Clock::now() + std::chrono::milliseconds(kInterruptPollMs);
        if (timeout_ms >= 0) until = std::min(until, deadline);
        ended_.wait_until(lock, until);
        if (finished_.load()) break;
        lock.unlock();
        const bool interrupted = interrupt_requested();
        lock.lock();
        if (interrupted) return set_error(Error::interrupted);
        if (timeout_ms >= 0 && Clock::now() >= deadline)
            return set_error(Error::recording_not_ended);
    }
    lock.unlock();
    return outcome();
}

int Recorder::stop() {
    stop_requested_ = true;
    {
        std::lock_guard<std::mutex> lock(join_mutex_);
        if (thread_.joinable()) thread_.join();
    }
    return outcome();
}

} // namespace zv::recording
