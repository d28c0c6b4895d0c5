#include "usb/cy_endpoint.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "usb/ioctl_codes.h"
#include "usb/system_errors.h"

namespace zvusb {

namespace {

// Pause after aborting a timed-out synchronous transfer, so the driver settles before the
// caller's next request.
constexpr uint32_t kAbortPauseMs = 50;
// How long an abort waits for the driver to give the cancelled transfers back.
constexpr uint32_t kAbortWaitMs = 1000;

// A zeroed record of header + `extra` bytes, or null when memory is short.
uint8_t *new_record(uint64_t extra) {
    uint64_t size = kRecordHeaderSize + extra;
    if (size > UINT32_MAX) return nullptr;
    auto *record = new (std::nothrow) uint8_t[size];
    if (record != nullptr) std::memset(record, 0, size);
    return record;
}

TransferRecord *header(uint8_t *record) {
    return reinterpret_cast<TransferRecord *>(record);
}

uint32_t packet_count(uint32_t length, uint32_t packet) {
    return packet == 0 ? 0 : length / packet + (length % packet != 0 ? 1 : 0);
}

} // namespace

uint32_t max_packet_size_of(const EndpointDescriptor &d) {
    uint32_t size = (d.wMaxPacketSize & 0x7FFu) * (((d.wMaxPacketSize >> 11) & 3u) + 1);
    if (d.has_companion) {
        size *= uint32_t(d.ss_bMaxBurst) + 1;
        if ((d.bmAttributes & 3) == 1) size *= (d.ss_bmAttributes & 3u) + 1;
    }
    return size;
}

CCyUSBEndPoint::CCyUSBEndPoint(DriverHandle *driver_handle, const EndpointDescriptor &d)
    : handle(driver_handle), descriptor_length(d.bLength), descriptor_type(d.bDescriptorType),
      address(d.bEndpointAddress), attributes(d.bmAttributes),
      max_packet_size(uint16_t(max_packet_size_of(d))),
      packets_per_frame(uint16_t(((d.wMaxPacketSize >> 11) & 3) + 1)), interval(d.bInterval),
      ss_descriptor_length(d.ss_bLength), ss_descriptor_type(d.ss_bDescriptorType),
      ss_max_burst(d.ss_bMaxBurst), ss_attributes(d.ss_bmAttributes),
      bytes_per_interval(d.ss_wBytesPerInterval), direction_in((d.bEndpointAddress & 0x80) != 0) {
    // A SuperSpeed isochronous endpoint may announce more than 16 bits' worth of bytes per service
    // interval; the field keeps its 16-bit width and saturates.
    uint32_t size = max_packet_size_of(d);
    if (size > UINT16_MAX) max_packet_size = UINT16_MAX;
}

bool CCyUSBEndPoint::submit(uint32_t code, uint8_t *record, uint32_t record_length, void *out,
                            uint32_t out_length, Overlapped *ov) {
    if (handle == nullptr) {
        last_error = kErrorInvalidHandle;
        return false;
    }
    const TransferRecord *h = header(record);
    // A record freed without a finish (its endpoint's device closed) may share this address.
    for (auto it = layouts_.begin(); it != layouts_.end(); ++it)
        if (it->first == record) {
            layouts_.erase(it);
            break;
        }
    try {
        layouts_.push_back(
            {record,
             {h->packet_table_offset, h->packet_table_length, h->data_offset, h->data_length}});
    } catch (const std::bad_alloc &) {
        last_error = kErrorNotEnoughMemory;
        return false;
    }
    uint32_t returned = 0, error = kErrorSuccess;
    bool ok =
        handle->io_control(code, record, record_length, out, out_length, &returned, ov, &error);
    driver_status = header(record)->driver_status;
    usb_status = header(record)->usb_status;
    last_error = ok ? uint32_t(kErrorSuccess) : error;
    return ok || error == kErrorIoPending;
}

uint8_t *CCyUSBEndPoint::new_transfer_record(const uint8_t *buffer, int32_t length, Overlapped *ov,
                                             uint64_t extra) {
    if (length < 0 || (buffer == nullptr && length > 0) || ov == nullptr) {
        last_error = kErrorInvalidParameter;
        return nullptr;
    }
    uint8_t *record = new_record(extra);
    if (record == nullptr) last_error = kErrorNotEnoughMemory;
    return record;
}

uint8_t *CCyUSBEndPoint::begin_data_transfer(uint8_t *buffer, int32_t length, Overlapped *ov,
                                             uint32_t packets, bool buffered) {
    const uint32_t table = packets * uint32_t(sizeof(IsoPacketInfo));
    const uint64_t data = buffered && length > 0 ? uint64_t(length) : 0;
    uint8_t *record = new_transfer_record(buffer, length, ov, table + data);
    if (record == nullptr) return nullptr;
    TransferRecord *h = header(record);
    h->endpoint_address = address;
    if (packets > 0) {
        h->packet_table_offset = kRecordHeaderSize;
        h->packet_table_length = table;
    }
    if (!buffered) {
        submit(ioctl::kSendNonEp0Direct, record, kRecordHeaderSize + table, buffer,
               uint32_t(length), ov);
        return record;
    }
    h->data_offset = kRecordHeaderSize + table;
    h->data_length = uint32_t(data);
    if (data > 0) std::memcpy(record + h->data_offset, buffer, size_t(data));
    const uint32_t size = h->data_offset + h->data_length;
    submit(ioctl::kSendNonEp0Transfer, record, size, record, size, ov);
    return record;
}

uint8_t *CCyUSBEndPoint::begin_in_mode(uint8_t *buffer, int32_t length, Overlapped *ov) {
    return transfer_mode == kXferDirect ? begin_direct_transfer(buffer, length, ov)
                                        : begin_buffered_transfer(buffer, length, ov);
}

uint8_t *CCyUSBEndPoint::begin_direct_transfer(uint8_t *buffer, int32_t length, Overlapped *ov) {
    return begin_data_transfer(buffer, length, ov, 0, false);
}

uint8_t *CCyUSBEndPoint::begin_buffered_transfer(uint8_t *buffer, int32_t length, Overlapped *ov) {
    return begin_data_transfer(buffer, length, ov, 0, true);
}

bool CCyUSBEndPoint::finish_transfer(uint8_t *buffer, int32_t &length, Overlapped *ov,
                                     uint8_t *context, IsoPacketInfo *packets) {
    const int32_t requested = length;
    length = 0;
    bytes_transferred = 0;
    if (context == nullptr || ov == nullptr) return false;
    TransferRecord *h = header(context);

    uint32_t count = 0, error = kErrorSuccess;
    bool ok = get_overlapped_result(*ov, &count, &error);
    if (!ok && error == kErrorIoIncomplete) {
        // Still in flight: the driver owns the record until it gives it back, so cancel and wait
        // for that before the record is freed.
        abort();
        if (ov->event != nullptr) ov->event->wait(kAbortWaitMs);
        ok = get_overlapped_result(*ov, &count, &error);
        if (!ok && error == kErrorIoIncomplete) {
            // Never given back: keep the record alive rather than free memory the driver may
            // still write. This costs one record and happens only with a driver that ignores
            // cancellation.
            last_error = error;
            return false;
        }
    }
    if (!ok) last_error = error;

    // The layout as built: the driver had the record and may have left anything in its header.
    RecordLayout layout = {};
    for (auto it = layouts_.begin(); it != layouts_.end(); ++it) {
        if (it->first != context) continue;
        layout = it->second;
        layouts_.erase(it);
        break;
    }
    uint32_t received = count > layout.data_offset ? count - layout.data_offset : 0;
    if (requested >= 0 && received > uint32_t(requested)) received = uint32_t(requested);
    length = int32_t(received);
    bytes_transferred = received;
    usb_status = h->usb_status;
    driver_status = h->driver_status;

    if (direction_in && layout.data_offset != 0 && received > 0 && buffer != nullptr) {
        uint32_t n = received < layout.data_length ? received : layout.data_length;
        std::memcpy(buffer, context + layout.data_offset, n);
    }
    if (packets != nullptr && received > 0 && layout.table_length > 0) {
        std::memcpy(packets, context + layout.table_offset, layout.table_length);
    }
    delete[] context;
    return ok && usb_status == 0 && driver_status == 0;
}

bool CCyUSBEndPoint::wait_for_transfer(Overlapped *ov, uint32_t wait_ms) {
    if (ov == nullptr || ov->event == nullptr) return false;
    return ov->event->wait(wait_ms);
}

bool CCyUSBEndPoint::wait_or_cancel(Overlapped *ov, uint32_t timeout_ms, const CancelCheck &cancel,
                                    bool &cancelled) {
    if (!cancel) return wait_for_transfer(ov, timeout_ms);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const uint32_t slice = uint32_t(std::clamp<int64_t>(left.count(), 0, kCancelSliceMs));
        if (wait_for_transfer(ov, slice)) return true;
        if (cancel()) {
            cancelled = true;
            return false;
        }
        if (slice == 0 || std::chrono::steady_clock::now() >= deadline) return false;
    }
}

bool CCyUSBEndPoint::transfer_sync(uint8_t *buffer, int32_t &length, IsoPacketInfo *packets,
                                   const CancelCheck &cancel) {
    Event event;
    Overlapped ov;
    ov.event = &event;
    uint8_t *context = begin_transfer(buffer, length, &ov);
    if (context == nullptr) {
        length = 0;
        return false;
    }
    bool waited;
    // A transfer the driver refused keeps the driver's reason (finishing it frees the record).
    uint32_t refused = kErrorSuccess;
    if (last_error == kErrorSuccess) {
        waited = true;
    } else if (last_error != kErrorIoPending) {
        waited = false;
        refused = last_error;
    } else {
        bool cancelled = false;
        waited = wait_or_cancel(&ov, timeout_ms, cancel, cancelled);
        if (!waited) {
            abort();
            std::this_thread::sleep_for(std::chrono::milliseconds(kAbortPauseMs));
        }
        if (cancelled) refused = kErrorOperationAborted;
    }
    bool finished = finish_transfer(buffer, length, &ov, context, packets);
    if (refused != kErrorSuccess) last_error = refused;
    return waited && finished;
}

bool CCyUSBEndPoint::abort() {
    if (handle == nullptr) return true;
    Event event;
    Overlapped ov;
    ov.event = &event;
    uint8_t ep = address;
    uint32_t returned = 0, error = kErrorSuccess;
    bool ok = handle->io_control(ioctl::kAbortPipe, &ep, 1, nullptr, 0, &returned, &ov, &error);
    if (!ok && error == kErrorIoPending) event.wait(kAbortWaitMs);
    return true;
}

bool CCyUSBEndPoint::reset() {
    if (handle == nullptr) {
        last_error = kErrorInvalidHandle;
        return false;
    }
    uint8_t ep = address;
    uint32_t returned = 0, error = kErrorSuccess;
    bool ok = handle->io_control(ioctl::kResetPipe, &ep, 1, nullptr, 0, &returned, nullptr, &error);
    last_error = ok ? uint32_t(kErrorSuccess) : error;
    return ok;
}

bool CCyUSBEndPoint::set_transfer_size(uint32_t size) {
    if (handle == nullptr) {
        last_error = kErrorInvalidHandle;
        return false;
    }
    if (max_packet_size > 0) {
        uint64_t rounded = uint64_t(packet_count(size, max_packet_size)) * max_packet_size;
        size = rounded > UINT32_MAX ? UINT32_MAX - UINT32_MAX % max_packet_size : uint32_t(rounded);
    }
    uint8_t request[5];
    request[0] = address;
    std::memcpy(request + 1, &size, sizeof size);
    uint32_t returned = 0, error = kErrorSuccess;
    bool ok = handle->io_control(ioctl::kSetTransferSize, request, sizeof request, request,
                                 sizeof request, &returned, nullptr, &error);
    last_error = ok ? uint32_t(kErrorSuccess) : error;
    return ok;
}

CCyControlEndPoint::CCyControlEndPoint(DriverHandle *driver_handle, uint16_t packet_size)
    : CCyUSBEndPoint(driver_handle, [packet_size] {
          EndpointDescriptor d;
          d.wMaxPacketSize = packet_size;
          return d;
      }()) {
    max_packet_size = packet_size;
    transfer_mode = kXferBuffered;
}

uint8_t *CCyControlEndPoint::begin_transfer(uint8_t *buffer, int32_t length, Overlapped *ov) {
    // wLength is 16 bits wide: longer data stages cannot be asked for.
    if (length > UINT16_MAX) {
        last_error = kErrorInvalidParameter;
        return nullptr;
    }
    uint8_t *record = new_transfer_record(buffer, length, ov, uint64_t(length < 0 ? 0 : length));
    if (record == nullptr) return nullptr;
    TransferRecord *h = header(record);
    h->bmRequestType = uint8_t((direction << 7) | ((request_type << 5) & 0x60) | (target & 0x1F));
    h->bRequest = request_code;
    h->wValue = value;
    h->wIndex = index;
    h->wLength = uint16_t(length);
    h->timeout_s = timeout_ms >= 1 && timeout_ms <= 999 ? 1 : timeout_ms / 1000;
    h->endpoint_address = 0;
    h->data_offset = kRecordHeaderSize;
    h->data_length = uint32_t(length);
    if (length > 0) std::memcpy(record + kRecordHeaderSize, buffer, size_t(length));
    direction_in = direction != 0;
    uint32_t size = kRecordHeaderSize + uint32_t(length);
    submit(ioctl::kSendEp0Control, record, size, record, size, ov);
    return record;
}

// An isochronous transfer of L bytes has ceil(L / P) packets; none (P = 0 or L = 0) starts
// nothing.
uint8_t *CCyIsocEndPoint::begin_isochronous(uint8_t *buffer, int32_t length, Overlapped *ov,
                                            bool buffered) {
    uint32_t packets = length > 0 ? packet_count(uint32_t(length), max_packet_size) : 0;
    if (packets == 0) {
        last_error = kErrorInvalidParameter;
        return nullptr;
    }
    return begin_data_transfer(buffer, length, ov, packets, buffered);
}

uint8_t *CCyIsocEndPoint::begin_direct_transfer(uint8_t *buffer, int32_t length, Overlapped *ov) {
    return begin_isochronous(buffer, length, ov, false);
}

uint8_t *CCyIsocEndPoint::begin_buffered_transfer(uint8_t *buffer, int32_t length, Overlapped *ov) {
    return begin_isochronous(buffer, length, ov, true);
}

uint8_t *CCyIsocEndPoint::begin_transfer(uint8_t *buffer, int32_t length, Overlapped *ov) {
    return begin_in_mode(buffer, length, ov);
}

uint8_t *CCyBulkEndPoint::begin_transfer(uint8_t *buffer, int32_t length, Overlapped *ov) {
    return begin_in_mode(buffer, length, ov);
}

uint8_t *CCyInterruptEndPoint::begin_transfer(uint8_t *buffer, int32_t length, Overlapped *ov) {
    return begin_in_mode(buffer, length, ov);
}

} // namespace zvusb
