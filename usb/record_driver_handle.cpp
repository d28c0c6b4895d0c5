#include "usb/record_driver_handle.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "usb/byte_order.h"
#include "usb/ioctl_codes.h"
#include "usb/system_errors.h"

namespace zvusb {

namespace {

using Clock = std::chrono::steady_clock;

// How long cancelled requests get to complete (abort, close).
constexpr uint32_t kCancelLimitMs = 1000;
// How long a transfer request issued without an overlapped record may take (the control
// request's own time-out is added to it).
constexpr uint32_t kSyncLimitMs = 10000;

// True when [offset, offset + length) lies inside a buffer of `size` bytes.
bool fits(uint32_t offset, uint32_t length, uint32_t size) {
    return offset <= size && length <= size - offset;
}

// A packet table and a data area must lie behind the header, inside the buffer, and apart.
bool record_layout_ok(const TransferRecord &h, uint32_t table_size, uint32_t data_size) {
    if (!fits(h.packet_table_offset, h.packet_table_length, table_size)) return false;
    if (h.packet_table_length % sizeof(IsoPacketInfo) != 0) return false;
    if (h.packet_table_length > 0 && h.packet_table_offset < kRecordHeaderSize) return false;
    if (!fits(h.data_offset, h.data_length, data_size)) return false;
    if (h.data_length > 0 && h.data_offset < kRecordHeaderSize) return false;
    if (table_size == data_size && h.packet_table_length > 0 && h.data_length > 0) {
        bool apart = h.packet_table_offset + h.packet_table_length <= h.data_offset ||
                     h.data_offset + h.data_length <= h.packet_table_offset;
        if (!apart) return false;
    }
    return true;
}

// Records are in/out: work on the output buffer, starting from the caller's input.
uint8_t *record_buffer(uint8_t *in, uint32_t in_len, uint8_t *out, uint32_t out_len) {
    if (in == nullptr || out == nullptr || in_len < kRecordHeaderSize ||
        out_len < kRecordHeaderSize)
        return nullptr;
    if (in != out) std::memcpy(out, in, std::min(in_len, out_len));
    return out;
}

} // namespace

struct RecordDriverHandle::Request {
    Request(uint8_t ep, Overlapped *overlapped, TransferRecord *header, uint32_t base,
            uint32_t most)
        : endpoint(ep), ov(overlapped), record(header), count_base(base), max_bytes(most) {}
    uint8_t endpoint = 0;
    Overlapped *ov = nullptr;
    TransferRecord *record = nullptr;
    uint32_t count_base = 0; // added to the bytes moved: the data offset of a buffered record
    uint32_t max_bytes = 0;  // the data area: the most the backend may report
    uint32_t wait_limit_ms = kSyncLimitMs;
    bool in_call = true;
    bool done = false;
    uint32_t error = kErrorSuccess;
    uint32_t count = 0;
    TransferRecord forgotten = {}; // takes the statuses of a request given up on
};

RecordDriverHandle::RecordDriverHandle(std::unique_ptr<BackendDevice> device)
    : backend_(std::move(device)) {}

RecordDriverHandle::~RecordDriverHandle() {
    std::vector<uint8_t> endpoints;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const RequestPtr &r : in_flight_)
            if (std::find(endpoints.begin(), endpoints.end(), r->endpoint) == endpoints.end())
                endpoints.push_back(r->endpoint);
    }
    for (uint8_t endpoint : endpoints)
        abort_endpoint(endpoint);
    // The backend's destructor completes whatever it still holds; anything it leaves is
    // completed here so that no waiter hangs and no event keeps a pump that is gone.
    backend_.reset();
    std::vector<RequestPtr> left;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        left = in_flight_;
    }
    for (const RequestPtr &r : left)
        complete(r, kUsbStatusCanceled, kErrorOperationAborted, 0);
}

size_t RecordDriverHandle::in_flight() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return in_flight_.size();
}

bool RecordDriverHandle::io_control(uint32_t code, void *in, uint32_t in_len, void *out,
                                    uint32_t out_len, uint32_t *returned, Overlapped *ov,
                                    uint32_t *error) {
    uint32_t dummy_returned = 0, dummy_error = 0;
    if (returned == nullptr) returned = &dummy_returned;
    if (error == nullptr) error = &dummy_error;
    *returned = 0;
    *error = kErrorSuccess;
    auto *in_bytes = static_cast<uint8_t *>(in);
    auto *out_bytes = static_cast<uint8_t *>(out);
    if (ov != nullptr && ov->event == nullptr) {
        *error = kErrorInvalidParameter;
        return false;
    }
    // A driver call reports failure by number, as the kernel's does: memory running out while a
    // request is set up is "not enough memory", and the request never started.
    try {
        switch (code) {
        case ioctl::kSendEp0Control:
            return control(in_bytes, in_len, out_bytes, out_len, ov, returned, error);
        case ioctl::kSendNonEp0Transfer:
        case ioctl::kSendNonEp0Direct:
            return data_transfer(code == ioctl::kSendNonEp0Direct, in_bytes, in_len, out_bytes,
                                 out_len, ov, returned, error);
        default:
            break;
        }
    } catch (const std::bad_alloc &) {
        *error = kErrorNotEnoughMemory;
        if (ov != nullptr) ov->status = kErrorNotEnoughMemory;
        return false;
    }
    // Everything else completes inside the call; an overlapped caller still gets its record
    // filled and its event signalled.
    bool ok = query(code, in_bytes, in_len, out_bytes, out_len, returned, error);
    if (ov != nullptr) {
        ov->status = ok ? uint32_t(kErrorSuccess) : *error;
        ov->bytes = ok ? *returned : 0;
        if (ok) ov->event->set();
    }
    return ok;
}

bool RecordDriverHandle::query(uint32_t code, const uint8_t *in, uint32_t in_len, uint8_t *out,
                               uint32_t out_len, uint32_t *returned, uint32_t *error) {
    auto fail = [error](uint32_t e) {
        *error = e;
        return false;
    };
    auto need_out = [&](uint32_t n) { return out != nullptr && out_len >= n; };
    auto need_in = [&](uint32_t n) { return in != nullptr && in_len >= n; };
    switch (code) {
    case ioctl::kGetDriverVersion:
    case ioctl::kGetUsbdiVersion:
    case ioctl::kGetDeviceSpeed: {
        if (!need_out(4)) return fail(kErrorInvalidParameter);
        uint32_t value = code == ioctl::kGetDriverVersion  ? kRecordDriverVersion
                         : code == ioctl::kGetUsbdiVersion ? kRecordStackVersion
                                                           : backend_->speed();
        put_le32(out, value);
        *returned = 4;
        return true;
    }
    case ioctl::kGetAltSetting: {
        if (!need_out(1)) return fail(kErrorInvalidParameter);
        uint8_t alt = 0;
        uint32_t e = backend_->alt_setting(&alt);
        if (e != kErrorSuccess) return fail(e);
        out[0] = alt;
        *returned = 1;
        return true;
    }
    case ioctl::kGetPacing:
        if (!need_out(1)) return fail(kErrorInvalidParameter);
        out[0] = backend_->paced_by_host() ? 1 : 0;
        *returned = 1;
        return true;
    case ioctl::kGetAddress:
        if (!need_out(1)) return fail(kErrorInvalidParameter);
        out[0] = backend_->address();
        *returned = 1;
        return true;
    case ioctl::kGetFriendlyName:
    case ioctl::kGetDeviceName: {
        if (!need_out(1)) return fail(kErrorInvalidParameter);
        std::string name = backend_->name();
        size_t n = std::min<size_t>(name.size(), out_len - 1);
        std::memset(out, 0, out_len);
        std::memcpy(out, name.data(), n);
        *returned = out_len;
        return true;
    }
    case ioctl::kSetAltSetting: {
        if (!need_in(1)) return fail(kErrorInvalidParameter);
        uint32_t e = backend_->set_alt_setting(in[0]);
        if (e != kErrorSuccess) return fail(e);
        *returned = 1;
        return true;
    }
    case ioctl::kResetPipe: {
        if (!need_in(1)) return fail(kErrorInvalidParameter);
        uint32_t e = backend_->reset_endpoint(in[0]);
        if (e != kErrorSuccess) return fail(e);
        *returned = 1;
        return true;
    }
    case ioctl::kAbortPipe:
        if (!need_in(1)) return fail(kErrorInvalidParameter);
        abort_endpoint(in[0]);
        *returned = 1;
        return true;
    case ioctl::kSetTransferSize:
        // The backends size their transfers per request; the setting is acknowledged as given.
        if (!need_in(5)) return fail(kErrorInvalidParameter);
        if (out != nullptr && out != in && out_len >= 5) std::memcpy(out, in, 5);
        *returned = 5;
        return true;
    default:
        return fail(kErrorNotSupported);
    }
}

bool RecordDriverHandle::control(uint8_t *in, uint32_t in_len, uint8_t *out, uint32_t out_len,
                                 Overlapped *ov, uint32_t *returned, uint32_t *error) {
    uint8_t *rec = record_buffer(in, in_len, out, out_len);
    if (rec == nullptr) {
        *error = kErrorInvalidParameter;
        return false;
    }
    auto *h = reinterpret_cast<TransferRecord *>(rec);
    if (!record_layout_ok(*h, out_len, out_len) || h->wLength > h->data_length) {
        *error = kErrorInvalidParameter;
        return false;
    }
    ControlSetup setup{h->bmRequestType, h->bRequest, h->wValue, h->wIndex, h->wLength};
    uint8_t *data = h->wLength > 0 ? rec + h->data_offset : nullptr;
    uint32_t timeout_ms =
        uint32_t(std::min<uint64_t>(uint64_t(h->timeout_s) * 1000, UINT32_MAX - kSyncLimitMs));

    auto request =
        std::make_shared<Request>(0, ov, h, uint32_t(h->data_offset), uint32_t(h->wLength));
    request->wait_limit_ms = kSyncLimitMs + timeout_ms;
    return run(
        request,
        [&](Completion done) { backend_->control(setup, data, timeout_ms, std::move(done)); },
        returned, error);
}

bool RecordDriverHandle::data_transfer(bool direct, uint8_t *in, uint32_t in_len, uint8_t *out,
                                       uint32_t out_len, Overlapped *ov, uint32_t *returned,
                                       uint32_t *error) {
    // A buffered record is in/out and carries the data; a direct record carries only the packet
    // table, and the data goes straight to the output buffer.
    uint8_t *rec = direct ? in : record_buffer(in, in_len, out, out_len);
    const uint32_t rec_len = direct ? in_len : out_len;
    auto *h = reinterpret_cast<TransferRecord *>(rec);
    if (rec == nullptr || rec_len < kRecordHeaderSize ||
        (direct && out == nullptr && out_len > 0) || !record_layout_ok(*h, rec_len, rec_len) ||
        (h->endpoint_address & 0x7F) == 0) {
        *error = kErrorInvalidParameter;
        return false;
    }
    const uint8_t endpoint = h->endpoint_address;
    const uint32_t npackets = h->packet_table_length / sizeof(IsoPacketInfo);
    auto *packets =
        npackets > 0 ? reinterpret_cast<IsoPacketInfo *>(rec + h->packet_table_offset) : nullptr;
    uint8_t *data = direct ? out : rec + h->data_offset;
    const uint32_t length = direct ? out_len : h->data_length;
    const uint32_t packet = packet_size(endpoint, length, npackets);

    auto request = std::make_shared<Request>(endpoint, ov, h, direct ? 0 : h->data_offset, length);
    return run(
        request,
        [&](Completion done) {
            backend_->transfer(endpoint, data, length, packets, npackets, packet, std::move(done));
        },
        returned, error);
}

uint32_t RecordDriverHandle::packet_size(uint8_t endpoint, uint32_t length, uint32_t npackets) {
    if (npackets == 0) return 0;
    uint32_t packet = backend_->max_packet_size(endpoint);
    // Without a size from the backend, or one whose packets cannot hold the transfer, spread the
    // length over the table: exact for the transport's transfers of whole packets.
    if (packet == 0 || uint64_t(packet) * npackets < length)
        packet = length / npackets + (length % npackets != 0 ? 1 : 0);
    return packet;
}

template <typename Start>
bool RecordDriverHandle::run(const RequestPtr &request, Start start, uint32_t *returned,
                             uint32_t *error) {
    // A request without an overlapped record waits for itself on a private one.
    Event own_event;
    Overlapped own;
    const bool waits = request->ov == nullptr;
    if (waits) {
        own.event = &own_event;
        request->ov = &own;
    }
    Overlapped *ov = request->ov;
    ov->status = kErrorIoPending;
    ov->bytes = 0;
    ov->event->reset();
    ov->event->set_pump(backend_.get());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        request->record->driver_status = 0;
        request->record->usb_status = 0;
        in_flight_.push_back(request);
    }

    try {
        start(Completion([this, request](uint32_t usb_status, uint32_t e, uint32_t bytes) {
            complete(request, usb_status, e, bytes);
        }));
    } catch (...) {
        // The backend never took the request: it is not in flight.
        std::lock_guard<std::mutex> lock(mutex_);
        in_flight_.erase(std::find(in_flight_.begin(), in_flight_.end(), request));
        throw;
    }

    bool done;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        request->in_call = false;
        done = request->done;
    }
    if (!done && waits) {
        if (!own_event.wait(request->wait_limit_ms)) {
            abort_endpoint(request->endpoint);
            std::lock_guard<std::mutex> lock(mutex_);
            if (!request->done) {
                // The backend did not give the request back: forget our private record so that a
                // late completion cannot touch it.
                request->ov = nullptr;
                request->record = &request->forgotten;
                in_flight_.erase(std::find(in_flight_.begin(), in_flight_.end(), request));
                own_event.set_pump(nullptr);
                *error = kErrorSemTimeout;
                return false;
            }
        }
        *returned = own.bytes;
        *error = own.status;
        return own.status == kErrorSuccess;
    }
    if (!done) {
        *error = kErrorIoPending;
        return false;
    }
    // Completed inside the call: success signals the event, an immediate failure does not.
    settle(request);
    if (request->error == kErrorSuccess) {
        ov->event->set();
        *returned = request->count;
        return true;
    }
    *error = request->error;
    return false;
}

void RecordDriverHandle::complete(const RequestPtr &request, uint32_t usb_status, uint32_t error,
                                  uint32_t bytes) {
    bool inside;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (request->done) return;
        request->done = true;
        if (error == kErrorSuccess && usb_status != kUsbStatusSuccess) error = kErrorGenFailure;
        request->error = error;
        request->count = request->count_base + std::min(bytes, request->max_bytes);
        request->record->usb_status = usb_status;
        request->record->driver_status = error;
        inside = request->in_call;
    }
    if (inside) return;
    if (Overlapped *ov = settle(request)) ov->event->set();
}

Overlapped *RecordDriverHandle::settle(const RequestPtr &request) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find(in_flight_.begin(), in_flight_.end(), request);
    if (it != in_flight_.end()) in_flight_.erase(it);
    Overlapped *ov = request->ov;
    if (ov == nullptr) return nullptr;
    ov->status = request->error;
    ov->bytes = request->count;
    bool shared = std::any_of(in_flight_.begin(), in_flight_.end(), [ov](const RequestPtr &r) {
        return r->ov != nullptr && r->ov->event == ov->event;
    });
    if (!shared) ov->event->set_pump(nullptr);
    return ov;
}

bool RecordDriverHandle::endpoint_busy(uint8_t endpoint) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(in_flight_.begin(), in_flight_.end(),
                       [endpoint](const RequestPtr &r) { return r->endpoint == endpoint; });
}

void RecordDriverHandle::abort_endpoint(uint8_t endpoint) {
    if (!backend_) return;
    backend_->abort(endpoint);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kCancelLimitMs);
    while (endpoint_busy(endpoint)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        backend_->pump(uint32_t(left.count()));
    }
}

} // namespace zvusb
