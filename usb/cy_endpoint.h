// Endpoint objects of an open device. Every transfer runs in three steps: begin (build a transfer
// record and hand it to the driver with an overlapped record), wait (on the record's event) and
// finish (collect byte count, statuses, data and the isochronous packet table).
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "usb/driver.h"
#include "usb/platform/overlapped.h"
#include "usb/transfer_record.h"

namespace zvusb {

// Transfer modes of an endpoint.
constexpr uint8_t kXferBuffered = 0; // data copied into the record
constexpr uint8_t kXferDirect = 1;   // data moved straight into the caller's buffer

// Parsed endpoint descriptor (and SuperSpeed companion) that endpoints are built from.
struct EndpointDescriptor {
    uint8_t bLength = 7;
    uint8_t bDescriptorType = 5;
    uint8_t bEndpointAddress = 0;
    uint8_t bmAttributes = 0;
    uint16_t wMaxPacketSize = 0;
    uint8_t bInterval = 0;
    bool has_companion = false;
    uint8_t ss_bLength = 0;
    uint8_t ss_bDescriptorType = 0;
    uint8_t ss_bMaxBurst = 0;
    uint8_t ss_bmAttributes = 0;
    uint16_t ss_wBytesPerInterval = 0;
};

class CCyUSBEndPoint {
  public:
    CCyUSBEndPoint(DriverHandle *handle, const EndpointDescriptor &descriptor);
    virtual ~CCyUSBEndPoint() = default;

    // Virtual operations, in slot order.
    virtual uint8_t *begin_direct_transfer(uint8_t *buffer, int32_t length, Overlapped *ov);
    virtual uint8_t *begin_buffered_transfer(uint8_t *buffer, int32_t length, Overlapped *ov);
    virtual uint8_t *begin_transfer(uint8_t *buffer, int32_t length, Overlapped *ov) = 0;
    // Collects the result of a transfer begun with `context`; frees the context. `length` is the
    // requested length in and the transferred length out. Success = the request succeeded and
    // both statuses are 0.
    virtual bool finish_transfer(uint8_t *buffer, int32_t &length, Overlapped *ov, uint8_t *context,
                                 IsoPacketInfo *packets = nullptr);

    // True when the overlapped record's event is signalled within timeout_ms.
    bool wait_for_transfer(Overlapped *ov, uint32_t timeout_ms);
    // Asked every kCancelSliceMs while a synchronous transfer waits: true abandons the transfer.
    using CancelCheck = std::function<bool()>;
    static constexpr uint32_t kCancelSliceMs = 20;
    // begin, wait (up to the endpoint's time-out) and finish, back to back. A transfer that times
    // out, or that `cancel` abandons, is cancelled and given back by the driver before this
    // returns false (last_error kErrorOperationAborted when abandoned).
    bool transfer_sync(uint8_t *buffer, int32_t &length, IsoPacketInfo *packets = nullptr,
                       const CancelCheck &cancel = nullptr);
    // Cancels the endpoint's transfers (always reports success) and clears a halt.
    bool abort();
    bool reset();
    // Sets the driver-side transfer size (rounded up to a multiple of the maximum packet size).
    bool set_transfer_size(uint32_t size);

    // Fields, in order.
    DriverHandle *handle;
    uint8_t descriptor_length;
    uint8_t descriptor_type;
    uint8_t address;
    uint8_t attributes;
    uint16_t max_packet_size;
    uint16_t packets_per_frame;
    uint8_t interval;
    uint8_t ss_descriptor_length;
    uint8_t ss_descriptor_type;
    uint8_t ss_max_burst;
    uint8_t ss_attributes;
    uint16_t bytes_per_interval;
    uint32_t timeout_ms = 10000;
    uint32_t usb_status = 0;
    uint32_t driver_status = 0;
    uint32_t bytes_transferred = 0;
    uint32_t last_error = 0;
    bool direction_in;
    uint8_t transfer_mode = kXferDirect;

  protected:
    // Where a record's packet table and data lie, as the endpoint built it.
    struct RecordLayout {
        uint32_t table_offset, table_length, data_offset, data_length;
    };

    // Hands a record to the driver with request `code`; copies its statuses and notes the error.
    bool submit(uint32_t code, uint8_t *record, uint32_t record_length, void *out,
                uint32_t out_length, Overlapped *ov);
    // A zeroed record of header + `extra` bytes after the checks every begin makes; null with
    // last_error set when the arguments are unusable or memory is short.
    uint8_t *new_transfer_record(const uint8_t *buffer, int32_t length, Overlapped *ov,
                                 uint64_t extra);
    // Begins a transfer on a data endpoint with a packet table of `packets` entries (0 for bulk
    // and interrupt), the data in the caller's buffer (direct) or in the record (buffered).
    uint8_t *begin_data_transfer(uint8_t *buffer, int32_t length, Overlapped *ov, uint32_t packets,
                                 bool buffered);
    // Slot 0 in direct mode, slot 1 in buffered mode.
    uint8_t *begin_in_mode(uint8_t *buffer, int32_t length, Overlapped *ov);

  private:
    // wait_for_transfer, asking `cancel` (when given) between slices; sets cancelled when it
    // answered true.
    bool wait_or_cancel(Overlapped *ov, uint32_t timeout_ms, const CancelCheck &cancel,
                        bool &cancelled);

    // The layout of every record handed to the driver and not yet finished. The driver holds a
    // record until its transfer finishes and may leave anything in its header; finish reads the
    // layout kept here instead.
    std::vector<std::pair<const uint8_t *, RecordLayout>> layouts_;
};

// Maximum packet size of an endpoint descriptor (with its companion, when present).
uint32_t max_packet_size_of(const EndpointDescriptor &descriptor);

class CCyControlEndPoint : public CCyUSBEndPoint {
  public:
    CCyControlEndPoint(DriverHandle *handle, uint16_t max_packet_size);
    uint8_t *begin_transfer(uint8_t *buffer, int32_t length, Overlapped *ov) override;

    // Setup fields loaded before each request.
    uint8_t target = 0;       // 0 device
    uint8_t request_type = 2; // 2 vendor
    uint8_t direction = 0;    // 0 to the device, 1 from the device
    uint8_t request_code = 0;
    uint16_t value = 0;
    uint16_t index = 0;
};

class CCyIsocEndPoint : public CCyUSBEndPoint {
  public:
    using CCyUSBEndPoint::CCyUSBEndPoint;
    uint8_t *begin_direct_transfer(uint8_t *buffer, int32_t length, Overlapped *ov) override;
    uint8_t *begin_buffered_transfer(uint8_t *buffer, int32_t length, Overlapped *ov) override;
    uint8_t *begin_transfer(uint8_t *buffer, int32_t length, Overlapped *ov) override;

  private:
    uint8_t *begin_isochronous(uint8_t *buffer, int32_t length, Overlapped *ov, bool buffered);
};

class CCyBulkEndPoint : public CCyUSBEndPoint {
  public:
    using CCyUSBEndPoint::CCyUSBEndPoint;
    uint8_t *begin_transfer(uint8_t *buffer, int32_t length, Overlapped *ov) override;
};

class CCyInterruptEndPoint : public CCyUSBEndPoint {
  public:
    using CCyUSBEndPoint::CCyUSBEndPoint;
    uint8_t *begin_transfer(uint8_t *buffer, int32_t length, Overlapped *ov) override;
};

} // namespace zvusb
