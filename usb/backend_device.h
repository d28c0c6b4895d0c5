// The operations a backend implements for one open device. RecordDriverHandle
// (record_driver_handle.h) decodes driver requests and transfer records into these calls, so a
// backend never parses a record itself.
//
// Asynchronous operations end by calling their Completion exactly once, either inside the call
// or later from pump(). A backend without threads of its own completes requests only in pump(),
// which the waiters of an event call (platform/event.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "usb/platform/event.h"
#include "usb/transfer_record.h"
#include "usb/usb_status.h"

namespace zvusb {

struct ControlSetup {
    uint8_t bmRequestType;
    uint8_t bRequest;
    uint16_t wValue;
    uint16_t wIndex;
    uint16_t wLength;
};

// The end of one asynchronous operation:
// usb_status: the USB-level status (0 = good; for example a stall sets it non-zero),
// error: a system error (kErrorSuccess, kErrorSemTimeout, kErrorOperationAborted,
//        kErrorGenFailure, kErrorDeviceNotConnected ...),
// bytes: bytes moved (control: data stage; isochronous: sum of the packet lengths).
using Completion = std::function<void(uint32_t usb_status, uint32_t error, uint32_t bytes)>;

class BackendDevice : public EventPump {
  public:
    // Destruction cancels and completes every operation still in flight.
    ~BackendDevice() override = default;

    // A control transfer on endpoint 0. `data` holds wLength bytes (sent for OUT, received for
    // IN). timeout_ms 0 means no time-out.
    virtual void control(const ControlSetup &setup, uint8_t *data, uint32_t timeout_ms,
                         Completion done) = 0;

    // A transfer on another endpoint. For an isochronous endpoint `packets` has `npackets`
    // entries; packet k's data goes to buffer + k * max_packet_size (never past buffer + length),
    // and its status and length are written into packets[k]. For bulk and interrupt endpoints
    // `packets` is null.
    virtual void transfer(uint8_t endpoint, uint8_t *buffer, uint32_t length,
                          IsoPacketInfo *packets, uint32_t npackets, uint32_t max_packet_size,
                          Completion done) = 0;

    // Cancels the operations in flight on an endpoint; they complete (with
    // kErrorOperationAborted) from a later pump() or at once.
    virtual void abort(uint8_t endpoint) = 0;
    // Clears a halt on an endpoint. Returns a system error.
    virtual uint32_t reset_endpoint(uint8_t endpoint) = 0;

    // The alternate setting of interface 0, and selecting one. Return system errors.
    virtual uint32_t alt_setting(uint8_t *alt) = 0;
    virtual uint32_t set_alt_setting(uint8_t alt) = 0;

    // Connection speed as the driver reports it (ioctl::kSpeedHigh, kSpeedSuper, ...).
    virtual uint32_t speed() = 0;
    virtual uint8_t address() = 0;
    // Human-readable device name (friendly and device name queries).
    virtual std::string name() = 0;

    // Maximum packet size of an endpoint of the current alternate setting, or 0 when unknown (the
    // record handle then derives it from the transfer length and the packet count).
    virtual uint32_t max_packet_size(uint8_t endpoint) {
        (void)endpoint;
        return 0;
    }

    // True for a device that streams only as fast as the host takes its samples; a device with a
    // clock of its own (every real one) keeps sampling and loses what the host does not take.
    virtual bool paced_by_host() { return false; }
};

} // namespace zvusb
