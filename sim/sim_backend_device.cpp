#include "sim/sim_backend_device.h"

#include <algorithm>
#include <optional>

#include "sim/firmware/firmware.h"
#include "usb/ioctl_codes.h"
#include "usb/system_errors.h"
#include "usb/usb_status.h"

namespace zvsim {

namespace {

using namespace zvusb;

constexpr uint32_t kDefaultSamplerate = 80000000;

// Completions of requests that never reach the firmware.
constexpr uint32_t kGoneStatus = kUsbStatusDeviceGone, kGoneError = kErrorDeviceNotConnected;
constexpr uint32_t kStallStatus = kUsbStatusStall, kStallError = kErrorGenFailure;

double samplerate_of(const DetectorConfig &config) {
    const uint32_t rate = config.samplerate;
    return rate == 0 || rate == 0xFFFFFFFFu ? kDefaultSamplerate : rate;
}

} // namespace

SimBackendDevice::SimBackendDevice(std::shared_ptr<SimulatedDetector> detector)
    : detector_(std::move(detector)), samplerate_(samplerate_of(detector_->config_)),
      fifo_(detector_->config_.fifo_samples) {}

SimBackendDevice::~SimBackendDevice() {
    cancel_all();
}

void SimBackendDevice::cancel_all() {
    // One at a time, so that nothing is allocated: this runs in the destructor.
    while (true) {
        std::optional<Pending> p;
        {
            std::lock_guard<std::mutex> lock(detector_->mutex_);
            if (queue_.empty()) break;
            p.emplace(std::move(queue_.front()));
            queue_.pop_front();
        }
        p->done(kUsbStatusCanceled, kErrorOperationAborted, 0);
    }
}

void SimBackendDevice::control(const ControlSetup &setup, uint8_t *data, uint32_t,
                               Completion done) {
    ControlResult result;
    bool gone;
    {
        std::lock_guard<std::mutex> lock(detector_->mutex_);
        gone = detector_->detached_;
        if (!gone)
            result = detector_->firmware_->control(
                {setup.bmRequestType, setup.bRequest, setup.wValue, setup.wIndex, setup.wLength},
                data);
        if (!gone && result.unanswered) {
            // Outstanding until the host cancels it or the detector is unplugged.
            Pending p{0, nullptr, 0, nullptr, 0, 0, std::move(done), Clock::now(), Clock::now()};
            p.hung = true;
            queue_.push_back(std::move(p));
            return;
        }
    }
    if (gone)
        done(kGoneStatus, kGoneError, 0);
    else if (result.stalled)
        done(kStallStatus, kStallError, 0);
    else
        done(kUsbStatusSuccess, kErrorSuccess, result.length);
}

void SimBackendDevice::transfer(uint8_t endpoint, uint8_t *buffer, uint32_t length,
                                IsoPacketInfo *packets, uint32_t npackets, uint32_t max_packet_size,
                                Completion done) {
    uint32_t refused_status = 0, refused_error = 0;
    {
        std::lock_guard<std::mutex> lock(detector_->mutex_);
        const Firmware &fw = *detector_->firmware_;
        if (detector_->detached_) {
            refused_status = kGoneStatus;
            refused_error = kGoneError;
        } else if (endpoint != kStreamEndpoint || fw.alt_setting() != kStreamAltSetting ||
                   packets == nullptr || npackets == 0 || max_packet_size == 0) {
            refused_status = kStallStatus;
            refused_error = kStallError;
        } else {
            const Clock::time_point now = Clock::now();
            queue_.push_back({endpoint, buffer, length, packets, npackets, max_packet_size,
                              std::move(done), now, now});
        }
    }
    if (refused_error != 0)
        done(refused_status, refused_error, 0);
    else
        detector_->changed_.notify_all();
}

void SimBackendDevice::abort(uint8_t endpoint) {
    {
        std::lock_guard<std::mutex> lock(detector_->mutex_);
        for (Pending &p : queue_)
            if (p.endpoint == endpoint) p.cancelled = true;
    }
    detector_->changed_.notify_all();
}

uint32_t SimBackendDevice::reset_endpoint(uint8_t endpoint) {
    std::lock_guard<std::mutex> lock(detector_->mutex_);
    if (detector_->detached_) return kErrorDeviceNotConnected;
    return endpoint == 0 || endpoint == kStreamEndpoint ? kErrorSuccess : kErrorInvalidParameter;
}

uint32_t SimBackendDevice::alt_setting(uint8_t *alt) {
    std::lock_guard<std::mutex> lock(detector_->mutex_);
    if (detector_->detached_) return kErrorDeviceNotConnected;
    *alt = detector_->firmware_->alt_setting();
    return kErrorSuccess;
}

uint32_t SimBackendDevice::set_alt_setting(uint8_t alt) {
    {
        std::lock_guard<std::mutex> lock(detector_->mutex_);
        if (detector_->detached_) return kErrorDeviceNotConnected;
        if (!detector_->firmware_->select_alt_setting(alt)) return kErrorGenFailure;
        // Changing the setting ends the stream: queued transfers are cancelled.
        for (Pending &p : queue_)
            p.cancelled = true;
        if (alt == kStreamAltSetting) {
            collection_start_ = last_completion_ = Clock::now();
            fifo_.restart();
        }
    }
    detector_->changed_.notify_all();
    return kErrorSuccess;
}

uint32_t SimBackendDevice::speed() {
    return detector_->config_.speed == Speed::super ? ioctl::kSpeedSuper : ioctl::kSpeedHigh;
}

uint8_t SimBackendDevice::address() {
    return uint8_t(detector_->id_ % 127 + 1);
}

std::string SimBackendDevice::name() {
    return "Simulated HLM25 " + detector_->serial();
}

uint32_t SimBackendDevice::max_packet_size(uint8_t endpoint) {
    std::lock_guard<std::mutex> lock(detector_->mutex_);
    const Firmware &fw = *detector_->firmware_;
    if (endpoint != kStreamEndpoint || fw.alt_setting() != kStreamAltSetting) return 0;
    return detector_->firmware_->descriptors().stream_packet_size();
}

bool SimBackendDevice::serve(Pending &p, std::vector<Finished> &finished) {
    std::vector<PacketResult> results;
    try {
        results.resize(p.npackets);
    } catch (const std::bad_alloc &) {
        // Short of memory the detector fails the transfer rather than lose it.
        finished.push_back({std::move(p.done), kUsbStatusCrc, kErrorNotEnoughMemory, 0});
        return true;
    }
    const StreamResult r = detector_->firmware_->stream_transfer(
        p.endpoint, p.buffer, p.length, p.packet_size, results.data(), p.npackets);
    if (r == StreamResult::never_completes) return false;
    if (r == StreamResult::rejected) {
        finished.push_back({std::move(p.done), kStallStatus, kStallError, 0});
        return true;
    }
    uint32_t bytes = 0;
    for (uint32_t k = 0; k < p.npackets; ++k) {
        p.packets[k].status = results[k].error ? kUsbStatusCrc : kUsbStatusSuccess;
        p.packets[k].length = results[k].length;
        bytes += std::min(results[k].length, p.packet_size);
    }
    if (r == StreamResult::transfer_error)
        finished.push_back({std::move(p.done), kUsbStatusCrc, kErrorGenFailure, bytes});
    else
        finished.push_back({std::move(p.done), kUsbStatusSuccess, kErrorSuccess, bytes});
    return true;
}

bool SimBackendDevice::serve_or_defer(Pending &p, std::vector<Finished> &finished) {
    try {
        if (serve(p, finished)) return true;
        p.hung = true; // an injected time-out: it has taken its transfer number
    } catch (const std::bad_alloc &) {
        // The firmware model ran short of memory: the transfer stays queued for the next pump.
    }
    return false;
}

uint64_t SimBackendDevice::written_by(Clock::time_point t) const {
    if (t <= collection_start_) return 0;
    return uint64_t(std::chrono::duration<double>(t - collection_start_).count() * samplerate_);
}

SimBackendDevice::Clock::time_point SimBackendDevice::time_of(uint64_t count) const {
    return collection_start_ + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(double(count) / samplerate_));
}

bool SimBackendDevice::due_now(Pending &p, Clock::time_point now) {
    Firmware &fw = *detector_->firmware_;
    // The detector turns to this transfer when it is queued and the one before it is complete;
    // until then the FIFO has filled with nobody reading it.
    const Clock::time_point start = std::max(p.queued, last_completion_);
    fw.drop_samples(fifo_.overflow(written_by(start)));
    p.samples = fw.transfer_samples(p.length, p.packet_size, p.npackets);
    p.due = std::max(start, time_of(fifo_.filled_at(p.samples)));
    return p.due <= now;
}

void SimBackendDevice::collect(std::vector<Finished> &finished, Clock::time_point now) {
    const bool gone = detector_->detached_;
    const bool realtime = detector_->config_.realtime;
    bool blocked = false; // an earlier transfer is not due yet: later ones wait behind it
    for (auto it = queue_.begin(); it != queue_.end();) {
        // `finished` never grows here: a completion taken off the queue must not be lost to a
        // failed allocation (pump reserved the room; the rest waits for the next pump).
        if (finished.size() == finished.capacity()) break;
        if (gone) {
            finished.push_back({std::move(it->done), kGoneStatus, kGoneError, 0});
        } else if (it->cancelled) {
            finished.push_back(
                {std::move(it->done), kUsbStatusCanceled, kErrorOperationAborted, 0});
        } else if (it->hung || blocked || (realtime && !due_now(*it, now))) {
            blocked = blocked || !it->hung;
            ++it;
            continue;
        } else if (!serve_or_defer(*it, finished)) {
            ++it;
            continue;
        } else if (realtime) {
            fifo_.take(it->samples);
            last_completion_ = it->due;
        }
        it = queue_.erase(it);
    }
}

SimBackendDevice::Clock::time_point SimBackendDevice::next_due() const {
    for (const Pending &p : queue_)
        if (!p.hung && !p.cancelled) return p.due;
    return Clock::time_point::max();
}

void SimBackendDevice::pump(uint32_t timeout_ms) {
    // Pumping runs in destructors and waits, where nothing may throw: short of memory, it
    // completes nothing this time and leaves the transfers queued.
    std::vector<Finished> finished;
    {
        std::unique_lock<std::mutex> lock(detector_->mutex_);
        try {
            finished.reserve(std::max<size_t>(queue_.size(), 1));
        } catch (const std::bad_alloc &) {
        }
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            const Clock::time_point now = Clock::now();
            collect(finished, now);
            if (!finished.empty() || now >= deadline) break;
            detector_->changed_.wait_until(lock, std::min(deadline, next_due()));
        }
    }
    for (Finished &f : finished)
        f.done(f.usb_status, f.error, f.bytes);
}

} // namespace zvsim
