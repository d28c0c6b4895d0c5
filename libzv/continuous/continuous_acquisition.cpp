#include "continuous_acquisition.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <new>

#include "device_stream.h"
#include "libzv/acquisition_engine.h"
#include "libzv/errors.h"
#include "libzv/identity.h"
#include "libzv/interrupt.h"

namespace zv {
namespace {

using Clock = std::chrono::steady_clock;

// The smallest ring, whatever buffer_seconds asks: room for many transfers of the largest packets.
constexpr size_t kMinimumCapacity = size_t(1) << 20;
// A detector paced by its reader never overflows: a ring that stays in the processor's caches
// serves it best.
constexpr size_t kPacedCapacity = size_t(4) << 20;
// Packets that arrive after a detector-reported loss before its size is settled: two transfers,
// so the estimate rests on the arrival with the least delay among them.
constexpr int kSettleArrivals = 32;

// Ends the engine's run when the acquisition is asked to stop (no failure).
class StopControl final : public RunControl {
  public:
    explicit StopControl(const std::atomic<bool> &stop) : stop_(stop) {}
    bool should_end(Error &reason) override {
        reason = Error::success;
        return stop_.load(std::memory_order_relaxed);
    }

  private:
    const std::atomic<bool> &stop_;
};

double unix_minus_steady() {
    using namespace std::chrono;
    const double unix_now = duration<double>(system_clock::now().time_since_epoch()).count();
    const double steady_now = duration<double>(Clock::now().time_since_epoch()).count();
    return unix_now - steady_now;
}

} // namespace

ContinuousAcquisition::ContinuousAcquisition(zv_device *dev, size_t capacity, bool paced_by_host,
                                             double samplerate)
    : dev_(dev), paced_by_host_(paced_by_host), ring_(capacity, paced_by_host), clock_(samplerate),
      unix_offset_(unix_minus_steady()) {}

ContinuousAcquisition::~ContinuousAcquisition() {
    stop();
}

std::unique_ptr<ContinuousAcquisition> ContinuousAcquisition::start(zv_device *dev,
                                                                    double buffer_seconds) {
    if (dev == nullptr || !dev->transport) {
        set_error(Error::invalid_device);
        return nullptr;
    }
    if (!(buffer_seconds > 0) || !std::isfinite(buffer_seconds)) {
        set_error(Error::invalid_parameters);
        return nullptr;
    }
    const uint32_t rate = known_samplerate(*dev);
    // Without a sample rate, stream positions cannot be turned into times or losses into counts.
    if (rate == 0) {
        set_error(Error::no_samplerate);
        return nullptr;
    }
    const bool paced = dev->transport->paced_by_host;
    const double wanted = std::ceil(buffer_seconds * rate);
    size_t capacity = wanted >= double(std::numeric_limits<size_t>::max() / 4)
                          ? std::numeric_limits<size_t>::max() / 4
                          : std::max(size_t(wanted), kMinimumCapacity);
    if (paced) capacity = std::min(capacity, kPacedCapacity);
    std::unique_ptr<ContinuousAcquisition> acq;
    try {
        acq.reset(new ContinuousAcquisition(dev, capacity, paced, rate));
    } catch (const std::bad_alloc &) {
        set_error(Error::out_of_memory);
        return nullptr;
    }
    if (!claim_device_stream(*dev, acq.get())) return nullptr;
    try {
        acq->thread_ = std::thread(&ContinuousAcquisition::run, acq.get());
    } catch (const std::system_error &) {
        release_device_stream(*dev, acq.get());
        set_error(Error::out_of_memory);
        return nullptr;
    }
    return acq;
}

void ContinuousAcquisition::run() {
    ignore_interrupts_on_this_thread();
    StopControl control(stop_requested_);
    const int status =
        collect(*dev_.load()->transport, &ContinuousAcquisition::sink, this, control);
    if (pending_.active) settle_loss();
    ring_.finish(status, status != 0 ? zv_get_error_string() : "");
}

int ContinuousAcquisition::sink(const uint16_t *samples, int count, int data_lost, void *user) {
    return static_cast<ContinuousAcquisition *>(user)->on_packet(samples, count, data_lost != 0);
}

int ContinuousAcquisition::on_packet(const uint16_t *samples, int count, bool data_lost) {
    const Clock::time_point now = Clock::now();
    const size_t n = count > 0 ? size_t(count) : 0;
    packet_samples_ = std::max(packet_samples_, uint32_t(n));
    if (data_lost) {
        if (pending_.active) settle_loss();
        if (paced_by_host_) {
            // No clock to measure the loss by: the packet that carried the report is what is
            // known to be missing.
            ring_.add_gap(packet_samples_, ZV_LOSS_DEVICE);
        } else {
            pending_ = PendingLoss{true,
                                   ring_.stream_end(),
                                   ring_.written(),
                                   0,
                                   0,
                                   std::numeric_limits<double>::infinity()};
            ring_.hold();
        }
    }
    bool go_on;
    if (pending_.active) {
        pending_.delivered += n;
        const uint64_t end = pending_.stream_start + pending_.delivered;
        pending_.smallest = std::min(pending_.smallest, clock_.samples_missing(now, end));
        go_on = ring_.push(samples, n);
        if (++pending_.arrivals >= kSettleArrivals) settle_loss();
    } else {
        go_on = ring_.push(samples, n);
        std::lock_guard<std::mutex> lock(clock_mutex_);
        clock_.observe(now, ring_.stream_end());
    }
    return go_on && !stop_requested_.load(std::memory_order_relaxed);
}

void ContinuousAcquisition::settle_loss() {
    // Never less than the packet that carried the report; more when the clock shows more.
    double missing = pending_.smallest;
    if (!std::isfinite(missing) || missing < double(packet_samples_)) missing = packet_samples_;
    ring_.add_gap_at(pending_.ring_position, uint64_t(std::llround(missing)), ZV_LOSS_DEVICE);
    pending_.active = false;
    ring_.publish();
}

double ContinuousAcquisition::unix_time_of(uint64_t position) {
    std::lock_guard<std::mutex> lock(clock_mutex_);
    double time = clock_.time_of(position) + unix_offset_;
    // The model's anchor moves when an arrival with less delay comes (and a detector without a
    // clock has no true times at all): later positions never get earlier times than reported.
    if (have_reported_ && position >= reported_position_)
        time = std::max(time, reported_time_ +
                                  double(position - reported_position_) / clock_.samplerate());
    have_reported_ = true;
    reported_position_ = position;
    reported_time_ = time;
    return time;
}

void ContinuousAcquisition::stop() {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    if (joined_) return;
    stop_requested_.store(true);
    ring_.stop();
    if (thread_.joinable()) thread_.join();
    joined_ = true;
    if (zv_device *dev = dev_.load()) release_device_stream(*dev, this);
}

void ContinuousAcquisition::detach_device() {
    stop();
    dev_ = nullptr;
}

} // namespace zv
