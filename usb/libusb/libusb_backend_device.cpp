#include "usb/libusb/libusb_backend_device.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "usb/cy_endpoint.h"
#include "usb/ioctl_codes.h"
#include "usb/libusb/libusb_errors.h"
#include "usb/system_errors.h"

namespace zvusb {

namespace {

constexpr int kInterface = 0;
// How long closing waits for cancelled transfers to come back from the kernel.
constexpr uint32_t kCloseDrainMs = 2000;
// Time-out of the synchronous standard requests issued at open.
constexpr unsigned kSetupTimeoutMs = 1000;
constexpr uint8_t kGetInterface = 10;

} // namespace

struct LibusbBackendDevice::Pending {
    LibusbBackendDevice *owner = nullptr;
    libusb_transfer *transfer = nullptr;
    uint8_t endpoint = 0;
    Completion done;
    // Control transfers: libusb needs setup and data in one buffer; IN data is copied out.
    std::vector<uint8_t> control_buffer;
    uint8_t *control_data = nullptr;
    uint16_t control_length = 0;
    bool control_in = false;
    // Isochronous transfers: the packet table to fill.
    IsoPacketInfo *packets = nullptr;
    uint32_t npackets = 0;
};

LibusbBackendDevice::LibusbBackendDevice(libusb_context *context, libusb_device_handle *handle,
                                         std::string name, std::function<void()> closed)
    : context_(context), handle_(handle), name_(std::move(name)), closed_(std::move(closed)) {
    // The current alternate setting: GET_INTERFACE, or 0 when the device does not answer it.
    uint8_t current = 0;
    int r = libusb_control_transfer(handle_, LIBUSB_ENDPOINT_IN | LIBUSB_RECIPIENT_INTERFACE,
                                    kGetInterface, 0, kInterface, &current, 1, kSetupTimeoutMs);
    std::lock_guard<std::mutex> lock(mutex_);
    alt_ = r == 1 ? current : 0;
    load_endpoints();
}

LibusbBackendDevice::~LibusbBackendDevice() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Pending *p : pending_)
            libusb_cancel_transfer(p->transfer);
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseDrainMs);
    while (in_flight() > 0 && std::chrono::steady_clock::now() < deadline)
        pump(100);
    if (in_flight() > 0) {
        // The kernel kept some transfers: closing the handle under them would let libusb touch
        // freed memory, so the handle stays open (a leak, never a crash).
        return;
    }
    libusb_release_interface(handle_, kInterface);
    libusb_close(handle_);
    if (closed_) closed_();
}

size_t LibusbBackendDevice::in_flight() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size();
}

void LibusbBackendDevice::pump(uint32_t timeout_ms) {
    timeval tv;
    tv.tv_sec = long(timeout_ms / 1000);
    tv.tv_usec = long(timeout_ms % 1000) * 1000;
    libusb_handle_events_timeout_completed(context_, &tv, nullptr);
}

void LibusbBackendDevice::control(const ControlSetup &setup, uint8_t *data, uint32_t timeout_ms,
                                  Completion done) {
    Pending *p = new_pending(0, 0, done);
    if (p == nullptr) return;
    libusb_transfer *t = p->transfer;
    p->control_buffer.assign(LIBUSB_CONTROL_SETUP_SIZE + size_t(setup.wLength), 0);
    p->control_data = data;
    p->control_length = setup.wLength;
    p->control_in = (setup.bmRequestType & LIBUSB_ENDPOINT_IN) != 0;
    uint8_t *buffer = p->control_buffer.data();
    libusb_fill_control_setup(buffer, setup.bmRequestType, setup.bRequest, setup.wValue,
                              setup.wIndex, setup.wLength);
    if (!p->control_in && setup.wLength > 0 && data != nullptr)
        std::memcpy(buffer + LIBUSB_CONTROL_SETUP_SIZE, data, setup.wLength);
    libusb_fill_control_transfer(t, handle_, buffer, &LibusbBackendDevice::on_complete, p,
                                 timeout_ms);
    submit(p);
}

void LibusbBackendDevice::transfer(uint8_t endpoint, uint8_t *buffer, uint32_t length,
                                   IsoPacketInfo *packets, uint32_t npackets,
                                   uint32_t max_packet_size, Completion done) {
    const bool iso = packets != nullptr && npackets > 0;
    if (length > uint32_t(INT32_MAX) || npackets > uint32_t(INT32_MAX) ||
        (iso && max_packet_size == 0)) {
        done(kUsbStatusSuccess, kErrorInvalidParameter, 0);
        return;
    }
    Pending *p = new_pending(endpoint, iso ? int(npackets) : 0, done);
    if (p == nullptr) return;
    libusb_transfer *t = p->transfer;
    if (iso) {
        p->packets = packets;
        p->npackets = npackets;
        libusb_fill_iso_transfer(t, handle_, endpoint, buffer, int(length), int(npackets),
                                 &LibusbBackendDevice::on_complete, p, 0);
        // Packet k covers [k * P, (k + 1) * P) of the buffer, cut at its end.
        for (uint32_t k = 0; k < npackets; ++k) {
            uint64_t start = uint64_t(k) * max_packet_size;
            uint64_t size =
                start >= length ? 0 : std::min<uint64_t>(max_packet_size, length - start);
            t->iso_packet_desc[k].length = unsigned(size);
            packets[k] = IsoPacketInfo{0, 0};
        }
    } else {
        EndpointInfo info{};
        if (endpoint_info(endpoint, info) && info.type == LIBUSB_TRANSFER_TYPE_INTERRUPT)
            libusb_fill_interrupt_transfer(t, handle_, endpoint, buffer, int(length),
                                           &LibusbBackendDevice::on_complete, p, 0);
        else
            libusb_fill_bulk_transfer(t, handle_, endpoint, buffer, int(length),
                                      &LibusbBackendDevice::on_complete, p, 0);
    }
    submit(p);
}

LibusbBackendDevice::Pending *LibusbBackendDevice::new_pending(uint8_t endpoint, int packets,
                                                               Completion &done) {
    libusb_transfer *t = libusb_alloc_transfer(packets);
    if (t == nullptr) {
        done(kUsbStatusSuccess, kErrorNotEnoughMemory, 0);
        return nullptr;
    }
    auto *p = new Pending;
    p->owner = this;
    p->transfer = t;
    p->endpoint = endpoint;
    p->done = std::move(done);
    return p;
}

void LibusbBackendDevice::submit(Pending *p) {
    // Recorded before it is submitted: another thread's pump may complete it at once.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back(p);
    }
    int r = libusb_submit_transfer(p->transfer);
    if (r == LIBUSB_SUCCESS) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.erase(std::find(pending_.begin(), pending_.end(), p));
    }
    Completion done = std::move(p->done);
    libusb_free_transfer(p->transfer);
    delete p;
    uint32_t error = system_error_of_libusb(r);
    done(r == LIBUSB_ERROR_NO_DEVICE ? kUsbStatusDeviceGone : kUsbStatusSuccess, error, 0);
}

void LIBUSB_CALL LibusbBackendDevice::on_complete(libusb_transfer *transfer) {
    auto *p = static_cast<Pending *>(transfer->user_data);
    p->owner->finish(p);
}

void LibusbBackendDevice::finish(Pending *p) {
    libusb_transfer *t = p->transfer;
    TransferOutcome outcome = outcome_of_libusb(t->status);
    uint32_t bytes = 0;
    if (p->packets != nullptr) {
        const uint32_t n = std::min<uint32_t>(p->npackets, uint32_t(t->num_iso_packets));
        for (uint32_t k = 0; k < n; ++k) {
            const libusb_iso_packet_descriptor &d = t->iso_packet_desc[k];
            uint32_t got = std::min(d.actual_length, d.length);
            p->packets[k].status = outcome_of_libusb(d.status).usb_status;
            p->packets[k].length = got;
            bytes += got;
        }
    } else if (t->type == LIBUSB_TRANSFER_TYPE_CONTROL) {
        bytes = uint32_t(std::max(t->actual_length, 0));
        bytes = std::min<uint32_t>(bytes, p->control_length);
        if (p->control_in && bytes > 0 && p->control_data != nullptr)
            std::memcpy(p->control_data, libusb_control_transfer_get_data(t), bytes);
    } else {
        bytes = uint32_t(std::max(t->actual_length, 0));
        bytes = std::min<uint32_t>(bytes, uint32_t(t->length));
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.erase(std::find(pending_.begin(), pending_.end(), p));
    }
    Completion done = std::move(p->done);
    libusb_free_transfer(t);
    delete p;
    done(outcome.usb_status, outcome.error, bytes);
}

void LibusbBackendDevice::abort(uint8_t endpoint) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Pending *p : pending_)
        if (p->endpoint == endpoint) libusb_cancel_transfer(p->transfer);
}

uint32_t LibusbBackendDevice::reset_endpoint(uint8_t endpoint) {
    return system_error_of_libusb(libusb_clear_halt(handle_, endpoint));
}

uint32_t LibusbBackendDevice::alt_setting(uint8_t *alt) {
    std::lock_guard<std::mutex> lock(mutex_);
    *alt = alt_;
    return kErrorSuccess;
}

uint32_t LibusbBackendDevice::set_alt_setting(uint8_t alt) {
    // libusb 1.0.25 and 1.0.26 (Debian 12) unlock the handle's mutex without having locked it
    // when libusb_set_interface_alt_setting finds the device gone, and libusb_close then aborts
    // the process on that mutex. Claiming the interface we already hold does nothing but report
    // a device that has gone, so an unplugged detector is caught before that call.
    int r = libusb_claim_interface(handle_, kInterface);
    if (r == LIBUSB_SUCCESS) r = libusb_set_interface_alt_setting(handle_, kInterface, alt);
    if (r != LIBUSB_SUCCESS) return system_error_of_libusb(r);
    std::lock_guard<std::mutex> lock(mutex_);
    alt_ = alt;
    load_endpoints();
    return kErrorSuccess;
}

uint32_t LibusbBackendDevice::speed() {
    switch (libusb_get_device_speed(libusb_get_device(handle_))) {
    case LIBUSB_SPEED_FULL:
        return ioctl::kSpeedFull;
    case LIBUSB_SPEED_HIGH:
        return ioctl::kSpeedHigh;
    case LIBUSB_SPEED_SUPER:
    case LIBUSB_SPEED_SUPER_PLUS:
        return ioctl::kSpeedSuper;
    default:
        return 0;
    }
}

uint8_t LibusbBackendDevice::address() {
    return libusb_get_device_address(libusb_get_device(handle_));
}

std::string LibusbBackendDevice::name() {
    return name_;
}

uint32_t LibusbBackendDevice::max_packet_size(uint8_t endpoint) {
    EndpointInfo info{};
    return endpoint_info(endpoint, info) ? info.max_packet_size : 0;
}

void LibusbBackendDevice::load_endpoints() {
    endpoints_.clear();
    libusb_device *device = libusb_get_device(handle_);
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS) return;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface &interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting; ++a) {
            const libusb_interface_descriptor &setting = interface.altsetting[a];
            if (setting.bInterfaceNumber != kInterface || setting.bAlternateSetting != alt_)
                continue;
            for (int e = 0; e < setting.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor &ep = setting.endpoint[e];
                EndpointDescriptor d;
                d.bEndpointAddress = ep.bEndpointAddress;
                d.bmAttributes = ep.bmAttributes;
                d.wMaxPacketSize = ep.wMaxPacketSize;
                libusb_ss_endpoint_companion_descriptor *companion = nullptr;
                if (libusb_get_ss_endpoint_companion_descriptor(context_, &ep, &companion) ==
                    LIBUSB_SUCCESS) {
                    d.has_companion = true;
                    d.ss_bMaxBurst = companion->bMaxBurst;
                    d.ss_bmAttributes = companion->bmAttributes;
                    libusb_free_ss_endpoint_companion_descriptor(companion);
                }
                endpoints_.push_back(EndpointInfo{ep.bEndpointAddress, uint8_t(ep.bmAttributes & 3),
                                                  max_packet_size_of(d)});
            }
        }
    }
    libusb_free_config_descriptor(config);
}

bool LibusbBackendDevice::endpoint_info(uint8_t address, EndpointInfo &info) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const EndpointInfo &e : endpoints_)
        if (e.address == address) {
            info = e;
            return true;
        }
    return false;
}

} // namespace zvusb
