#include "sample_ring.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>

#include "libzv/acquisition_memory.h"

namespace zv {
namespace {

using Clock = std::chrono::steady_clock;

// After an overflow, writing resumes once the reader has freed this fraction (1 / n) of the ring.
constexpr size_t kOverflowRecovery = 4;

// How often a waiting reader asks whether it was interrupted.
constexpr auto kReaderPoll = std::chrono::milliseconds(20);

uint16_t *allocate_samples(size_t capacity) {
    const size_t bytes =
        (capacity * sizeof(uint16_t) + kHugePageSize - 1) / kHugePageSize * kHugePageSize;
    void *block = std::aligned_alloc(kHugePageSize, bytes);
    if (block == nullptr) throw std::bad_alloc();
    // Touched here, before streaming starts: a page fault on the acquisition thread (worse, a
    // huge page the kernel must first compact memory for) could hold it past the detector's
    // FIFO. Huge pages make the touching itself quick.
    advise_huge_pages(block, bytes);
    std::memset(block, 0, bytes);
    return static_cast<uint16_t *>(block);
}

void free_samples(uint16_t *block) {
    std::free(block);
}

} // namespace

SampleRing::SampleRing(size_t capacity, bool wait_for_reader)
    : capacity_(capacity), wait_for_reader_(wait_for_reader),
      data_(allocate_samples(capacity), free_samples) {}

SampleRing::~SampleRing() = default;

size_t SampleRing::free_space() const {
    return capacity_ - size_t(written_.load(std::memory_order_relaxed) -
                              released_.load(std::memory_order_acquire));
}

bool SampleRing::push(const uint16_t *samples, size_t count) {
    if (count > capacity_) count = capacity_;
    // Once the ring overflowed, packets are dropped until the reader has freed a good part of it:
    // one overflow is one gap, not a gap between every two packets the reader makes room for.
    const size_t room_needed =
        overflowing_ ? std::max(count, capacity_ / kOverflowRecovery) : count;
    if (free_space() < room_needed) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (wait_for_reader_) {
            writable_.wait(lock, [&] { return stopped_ || free_space() >= count; });
        } else if (free_space() < room_needed && !stopped_) {
            // Dropped whole: consecutive drops at one place make one gap.
            const uint64_t at = written_.load(std::memory_order_relaxed);
            auto mark = marks_.rbegin();
            while (mark != marks_.rend() && mark->ring_position == at &&
                   !(mark->is_gap && mark->gap.kind == ZV_LOSS_OVERFLOW))
                ++mark;
            if (overflowing_ && mark != marks_.rend() && mark->ring_position == at)
                mark->gap.lost += count;
            else
                marks_.push_back(Mark{at, true, zv_gap{0, count, ZV_LOSS_OVERFLOW}, {}});
            overflowing_ = true;
            lost_written_ += count;
            lost_total_ += count;
            return true;
        }
        if (stopped_) return false;
    }
    const uint64_t at = written_.load(std::memory_order_relaxed);
    const size_t offset = size_t(at % capacity_);
    const size_t first = std::min(count, capacity_ - offset);
    std::memcpy(data_.get() + offset, samples, first * sizeof(uint16_t));
    if (first < count)
        std::memcpy(data_.get(), samples + first, (count - first) * sizeof(uint16_t));
    written_.store(at + count, std::memory_order_release);

    std::lock_guard<std::mutex> lock(mutex_);
    overflowing_ = false;
    if (!held_) publish_locked();
    return !stopped_;
}

void SampleRing::publish_locked() {
    published_ = written_.load(std::memory_order_relaxed);
    if (reader_wants_ > 0 &&
        published_ - released_.load(std::memory_order_relaxed) >= reader_wants_)
        readable_.notify_all();
}

void SampleRing::hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = true;
    readable_.notify_all(); // a reader waiting for more takes what is there
}

void SampleRing::publish() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = false;
    publish_locked();
}

void SampleRing::add_gap(uint64_t lost, int32_t kind) {
    add_gap_at(written_.load(std::memory_order_relaxed), lost, kind);
}

void SampleRing::add_gap_at(uint64_t at, uint64_t lost, int32_t kind) {
    if (lost == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    // Marks stay in ring order; a gap goes before the changes noted at its place meanwhile.
    auto place = marks_.end();
    while (place != marks_.begin() && std::prev(place)->ring_position >= at)
        --place;
    marks_.insert(place, Mark{at, true, zv_gap{0, lost, kind}, {}});
    lost_written_ += lost;
    lost_total_ += lost;
}

void SampleRing::add_change(const char *name, double value) {
    zv_setting_change change{};
    std::strncpy(change.name, name, sizeof change.name - 1);
    change.value = value;
    std::lock_guard<std::mutex> lock(mutex_);
    marks_.push_back(Mark{written_.load(std::memory_order_relaxed), false, {}, change});
}

uint64_t SampleRing::stream_end() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_.load(std::memory_order_relaxed) + lost_written_;
}

void SampleRing::finish(int status, const char *message) {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = false;
    publish_locked();
    finished_ = true;
    status_ = status;
    message_ = message;
    readable_.notify_all();
    writable_.notify_all();
}

void SampleRing::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    readable_.notify_all();
    writable_.notify_all();
}

bool SampleRing::stopped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopped_;
}

bool SampleRing::finished() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
}

uint64_t SampleRing::lost_total() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lost_total_;
}

SampleRing::Wait SampleRing::wait_readable(size_t wanted, int32_t timeout_ms,
                                           bool (*interrupted)()) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
    wanted = std::clamp<size_t>(wanted, 1, std::max<size_t>(capacity_ / 2, 1));
    std::unique_lock<std::mutex> lock(mutex_);
    Wait why;
    for (;;) {
        const uint64_t readable = published_ - released_.load(std::memory_order_relaxed);
        if (stopped_) {
            why = Wait::stopped;
            break;
        }
        // An acquisition that ended, or a producer holding samples back, adds nothing more for
        // now: what is there is all there will be.
        if (readable >= wanted || (readable > 0 && (finished_ || held_))) {
            why = Wait::ready;
            break;
        }
        if (finished_) {
            why = Wait::finished;
            break;
        }
        const auto now = Clock::now();
        if (timeout_ms >= 0 && now >= deadline) {
            why = readable > 0 ? Wait::ready : Wait::timed_out;
            break;
        }
        auto until = now + kReaderPoll;
        if (timeout_ms >= 0) until = std::min(until, deadline);
        reader_wants_ = wanted;
        readable_.wait_until(lock, until);
        reader_wants_ = 0;
        if (interrupted != nullptr) {
            lock.unlock();
            const bool stop = interrupted();
            lock.lock();
            if (stop) {
                why = Wait::interrupted;
                break;
            }
        }
    }
    return why;
}

RingPiece SampleRing::take() {
    RingPiece piece;
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t at = released_.load(std::memory_order_relaxed);
    if (published_ <= at) return piece;
    uint64_t end = published_;
    while (!marks_.empty() && marks_.front().ring_position <= at) {
        Mark &mark = marks_.front();
        if (mark.is_gap) {
            mark.gap.index = at + read_lost_;
            read_lost_ += mark.gap.lost;
            piece.gaps.push_back(mark.gap);
        } else {
            mark.change.index = at + read_lost_;
            piece.changes.push_back(mark.change);
        }
        marks_.pop_front();
    }
    if (!marks_.empty()) end = std::min(end, marks_.front().ring_position);
    const size_t offset = size_t(at % capacity_);
    piece.samples = data_.get() + offset;
    piece.count = size_t(std::min<uint64_t>(end - at, capacity_ - offset));
    piece.ring_position = at;
    piece.stream_position = at + read_lost_;
    // A change recorded at a gap applies from the first sample after it.
    for (zv_setting_change &change : piece.changes)
        change.index = piece.stream_position;
    return piece;
}

void SampleRing::release(size_t count) {
    released_.fetch_add(count, std::memory_order_release);
    if (wait_for_reader_) {
        std::lock_guard<std::mutex> lock(mutex_);
        writable_.notify_all();
    }
}

bool SampleRing::drained(int &status, const char *&message) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!finished_ || published_ > released_.load(std::memory_order_relaxed)) return false;
    status = status_;
    message = message_;
    return true;
}

} // namespace zv
