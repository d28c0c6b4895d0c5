#include "acquisition_engine.h"
#include "c_boundary.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "acquisition_console.h"
#include "acquisition_slots.h"
#include "continuous/device_stream.h"
#include "data_loss_marker.h"
#include "device_record.h"
#include "errors.h"
#include "interrupt.h"

namespace zv {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kStreamAltSetting = 1;
constexpr uint8_t kIdleAltSetting = 0;
constexpr uint8_t kStreamEndpoint = 0x83;
constexpr uint8_t kIsochronous = 1;
constexpr uint32_t kEndpointTimeoutMs = 1000;
constexpr uint32_t kTransferWaitMs = 1500;
constexpr uint32_t kPendingWaitMs = 2000;
// Completed transfers discarded while the stream settles after the alternate setting changed.
constexpr int kStartupAllowance = 4;
// A run whose transfers keep completing without a single good packet for this long ends with an
// error instead of waiting for ever (device not streaming, every packet bad or a loss marker).
constexpr auto kNoDataLimit = std::chrono::milliseconds(kTransferWaitMs);

zvusb::CCyUSBEndPoint *stream_endpoint(zvusb::CCyDriverDevice &usb) {
    const int count = usb.endpoint_count();
    for (int i = 1; i < count; ++i) {
        zvusb::CCyUSBEndPoint *ep = usb.endpoint(i);
        if (ep != nullptr && ep->address == kStreamEndpoint && ep->attributes == kIsochronous)
            return ep;
    }
    return nullptr;
}

class TransferCycle {
  public:
    TransferCycle(zvusb::CCyDriverDevice &usb, zvusb::CCyUSBEndPoint &ep, zv_sample_sink sink,
                  void *user, RunControl &control)
        : usb_(usb), ep_(ep), sink_(sink), user_(user), control_(control),
          packet_size_(ep.max_packet_size), length_(uint32_t(kPacketsPerTransfer) * packet_size_) {}

    int run();

  private:
    // Starts the sixteen transfers and keeps them going until the run ends; `current` is the
    // slot to wait for next, where the drain starts.
    void cycle(int &current);
    enum class Submit { ok, refused, bad_status };
    // How a transfer finished: cleanly; with an error status but with data, whose packets carry
    // their own statuses and are still delivered; or without anything usable.
    enum class Finish { ok, error_status, failed };

    Submit submit(TransferSlot &slot);
    // Waits for a slot's transfer; on failure stores `failure`, prints `report`, aborts the
    // endpoint's transfers and gives a still-pending one a last chance. Marks a transfer the
    // driver keeps even then as stuck. A run ended by its control meanwhile returns false with
    // the transfer still pending (the drain cancels it).
    bool wait(TransferSlot &slot, Error failure, void (*report)());
    // Waits up to timeout_ms for a slot's transfer in short slices, asking the control in
    // between; false on time-out or when the control ended the run (ended_ set).
    bool wait_sliced(TransferSlot &slot, uint32_t timeout_ms);
    // Asks the control; true (and the reason stored) when the run must end now.
    bool ended_by_control();
    Finish finish(TransferSlot &slot);
    // Hands the slot's good packets to the sink; false when the sink stopped the run.
    bool deliver(TransferSlot &slot);
    void drain(int first);

    zvusb::CCyDriverDevice &usb_;
    zvusb::CCyUSBEndPoint &ep_;
    zv_sample_sink sink_;
    void *user_;
    RunControl &control_;
    bool ended_ = false; // the control ended the run: the drain cancels what is in flight
    const uint32_t packet_size_;
    const uint32_t length_;
    TransferSlots slots_;
    int data_lost_ = 0;
    Clock::time_point last_data_;
};

int TransferCycle::run() {
    set_error(Error::success);
    ep_.timeout_ms = kEndpointTimeoutMs;
    usb_.set_transfer_size(&ep_, length_);
    ep_.transfer_mode = zvusb::kXferDirect;

    int current = 0;
    try {
        cycle(current);
    } catch (...) {
        // No transfer may outlive its slot: the ones in flight are cancelled and waited for
        // before the failure reaches the C boundary.
        ended_ = true;
        drain(current);
        throw;
    }
    drain(current);
    return zv_get_error();
}

void TransferCycle::cycle(int &current) {
    bool failed = !slots_.set_up(length_);
    for (int i = 0; i < kSlotCount && !failed; ++i) {
        TransferSlot &slot = *slots_.at(i);
        if (submit(slot) != Submit::ok) {
            console::start_failed(i, ep_.driver_status);
            set_error(Error::starting_transfer_failed);
            failed = true;
        }
    }
    if (!failed) {
        int allowance = kStartupAllowance;
        bool live = true;
        last_data_ = Clock::now();
        while (live) {
            TransferSlot &slot = *slots_.at(current);
            if (ended_by_control()) break;
            if (!wait(slot, Error::wait_for_transfer_failed, console::wait_failed) && ended_) break;
            const Finish finished = slot.stuck ? Finish::failed : finish(slot);
            if (finished == Finish::failed) {
                if (allowance == 0 || slot.stuck) {
                    console::usb_error();
                    set_error(Error::error_finishing_transfer);
                    break;
                }
                --allowance;
            } else if (allowance > 0) {
                --allowance; // the stream is settling: its data is discarded
            } else {
                live = deliver(slot);
                if (live && Clock::now() - last_data_ > kNoDataLimit) {
                    console::wait_failed();
                    set_error(Error::wait_for_transfer_failed);
                    live = false;
                }
            }
            // Resubmitted before the next slot is waited on, so sixteen transfers stay queued.
            const Submit resubmitted = submit(slot);
            if (resubmitted != Submit::ok) {
                console::resubmit_failed(ep_.driver_status);
                // Samples the caller still expects will not come: that is a failure, not an end.
                if (live) set_error(Error::starting_transfer_failed);
                live = false;
            }
            current = (current + 1) % kSlotCount;
        }
    }
}

TransferCycle::Submit TransferCycle::submit(TransferSlot &slot) {
    std::memset(slot.packets, 0, sizeof slot.packets);
    slot.ov.status = zvusb::kErrorSuccess;
    slot.ov.bytes = 0;
    slot.context = ep_.begin_transfer(slot.buffer, int32_t(length_), &slot.ov);
    const bool accepted = slot.context != nullptr && (ep_.last_error == zvusb::kErrorSuccess ||
                                                      ep_.last_error == zvusb::kErrorIoPending);
    if (!accepted) {
        // Nothing is in flight: free the record now rather than wait for a completion that
        // never comes.
        if (slot.context != nullptr) finish(slot);
        return Submit::refused;
    }
    slot.pending = true;
    return ep_.driver_status == 0 && ep_.usb_status == 0 ? Submit::ok : Submit::bad_status;
}

bool TransferCycle::ended_by_control() {
    if (ended_) return true;
    Error reason = Error::success;
    if (!control_.should_end(reason)) return false;
    ended_ = true;
    if (reason != Error::success) set_error(reason);
    return true;
}

bool TransferCycle::wait_sliced(TransferSlot &slot, uint32_t timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const uint32_t slice = uint32_t(std::clamp<int64_t>(left.count(), 0, kInterruptPollMs));
        if (ep_.wait_for_transfer(&slot.ov, slice)) return true;
        if (ended_by_control() || slice == 0 || Clock::now() >= deadline) return false;
    }
}

bool TransferCycle::wait(TransferSlot &slot, Error failure, void (*report)()) {
    if (wait_sliced(slot, kTransferWaitMs)) return true;
    if (ended_) return false;
    set_error(failure);
    report();
    usb_.abort_transfers(&ep_);
    if (ep_.last_error == zvusb::kErrorIoPending) slot.event->wait(kPendingWaitMs);
    slot.stuck = slot.in_flight();
    return false;
}

TransferCycle::Finish TransferCycle::finish(TransferSlot &slot) {
    int32_t length = int32_t(length_);
    const bool ok = ep_.finish_transfer(slot.buffer, length, &slot.ov, slot.context, slot.packets);
    slot.context = nullptr;
    slot.pending = false;
    if (ok) return Finish::ok;
    // The transport reports any non-zero status as a failed finish; a transfer that still moved
    // data is delivered packet by packet and the status reported (deliver).
    if (length > 0 && (ep_.driver_status != 0 || ep_.usb_status != 0)) return Finish::error_status;
    return Finish::failed;
}

bool TransferCycle::deliver(TransferSlot &slot) {
    if (ep_.driver_status != 0 || ep_.usb_status != 0) {
        console::error_status_found();
        set_error(Error::generic_usb_error);
    }
    for (int k = 0; k < kPacketsPerTransfer; ++k) {
        const zvusb::IsoPacketInfo &packet = slot.packets[k];
        if (packet.status != 0 || packet.length > packet_size_) {
            // The samples of a damaged packet are lost: the next delivery says so. (An empty
            // packet is no loss: the device had nothing to send.)
            data_lost_ = 1;
            continue;
        }
        if (packet.length == 0) continue;
        const int n = int(packet.length / 2);
        const auto *samples =
            reinterpret_cast<const uint16_t *>(slot.buffer + size_t(k) * packet_size_);
        if (is_data_loss_marker(samples, n)) {
            data_lost_ = 1;
            continue;
        }
        const int go_on = sink_(samples, n, data_lost_, user_);
        data_lost_ = 0;
        last_data_ = Clock::now();
        if (!go_on) return false;
    }
    return true;
}

void TransferCycle::drain(int first) {
    // A run its control ended does not wait for the samples in flight: they are cancelled, and
    // their cancellation is no failure worth a line.
    const bool cancelled = ended_;
    if (cancelled) usb_.abort_transfers(&ep_);
    for (int i = 0; i < kSlotCount; ++i) {
        const int index = (first + i) % kSlotCount;
        TransferSlot *slot = slots_.at(index);
        if (slot == nullptr || !slot->pending) continue;
        if (!slot->stuck) {
            if (cancelled) {
                if (!ep_.wait_for_transfer(&slot->ov, kPendingWaitMs)) {
                    usb_.abort_transfers(&ep_);
                    slot->stuck = slot->in_flight();
                }
            } else {
                wait(*slot, Error::final_wait_for_transfer_failed, console::final_wait_failed);
            }
        }
        if (slot->stuck) {
            slots_.abandon(index);
            continue;
        }
        if (finish(*slot) != Finish::ok && !cancelled) console::final_finish_failed();
    }
}

} // namespace

bool InterruptControl::should_end(Error &reason) {
    if (!interrupt_requested()) return false;
    reason = Error::interrupted;
    return true;
}

int collect(zvusb::CCyDriverDevice &usb, zv_sample_sink sink, void *user, RunControl &control) {
    usb.set_alt_setting(kIdleAltSetting);
    usb.set_alt_setting(kStreamAltSetting);
    zvusb::CCyUSBEndPoint *ep = stream_endpoint(usb);
    if (ep == nullptr) return set_error(Error::unable_to_get_endpoint);
    usb.abort_transfers(ep);
    usb.reset_endpoint(ep);
    const int result = TransferCycle(usb, *ep, sink, user, control).run();
    usb.set_alt_setting(kIdleAltSetting);
    return result;
}

int collect_interruptible(zv_device *dev, zv_sample_sink sink, void *user) {
    begin_interruptible_call();
    InterruptControl control;
    return collect(*dev->transport, sink, user, control);
}

} // namespace zv

extern "C" int zv_collect(zv_device *dev, zv_sample_sink sink, void *user) {
    return zv::c_status([&] {
        if (dev == nullptr || !dev->transport) return zv::set_error(zv::Error::invalid_device);
        // Without a sink the first packet would be handed to a null function.
        if (sink == nullptr) return zv::set_error(zv::Error::invalid_parameters);
        // The detector has one stream endpoint: a continuous stream or another collection
        // running on it owns it.
        if (!zv::begin_collection(*dev)) return zv_get_error();
        // Ended however the collection ends, an exception included.
        struct Ending {
            zv_device &dev;
            ~Ending() { zv::end_collection(dev); }
        } ending{*dev};
        return zv::collect_interruptible(dev, sink, user);
    });
}
