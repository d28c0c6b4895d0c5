// The driver contract: what the transport needs from the layer that reaches a device. It stands
// where the vendor kernel driver and the platform's device-interface enumeration stood: a driver
// lists the device paths of its interface class, opens one, and executes driver requests
// (ioctl_codes.h) on transfer records (transfer_record.h).
//
// Backends: usb/libusb (real detectors, interface class 1) and sim/ (simulated detectors,
// interface class 2). Most backends implement BackendDevice (backend_device.h) and let
// RecordDriverHandle decode the requests; a driver may also implement DriverHandle directly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "usb/interface_classes.h"
#include "usb/platform/overlapped.h"

namespace zvusb {

// An open device: the handle on which driver requests are executed.
class DriverHandle {
  public:
    // Closing the handle cancels every request still in flight and completes it (its overlapped
    // record gets kErrorOperationAborted and its event is signalled) before returning.
    virtual ~DriverHandle() = default;

    // Executes one driver request.
    // - Without an overlapped record (sync) the request is complete when the call returns.
    // - With one, the call returns true when the request completed at once, or false with
    //   *error == kErrorIoPending when it completes later. In both cases the driver stores the
    //   result in the overlapped record and signals its event when the request is complete.
    // - Any other false return carries a system error in *error; nothing is pending then and the
    //   event is not signalled.
    // *returned receives the bytes written to `out` for a request completed in the call.
    // `in` and `out` stay valid until the request completes (they may be the same buffer).
    virtual bool io_control(uint32_t code, void *in, uint32_t in_len, void *out, uint32_t out_len,
                            uint32_t *returned, Overlapped *ov, uint32_t *error) = 0;
};

// A backend serving one interface class.
class Driver {
  public:
    virtual ~Driver() = default;
    // Short name for messages ("libusb", "simulator").
    virtual const char *name() const = 0;
    // Paths of the devices present now, in a stable order (index = position).
    virtual std::vector<std::string> device_paths() = 0;
    // Opens the device at `path`; null with a system error (kErrorFileNotFound when it is gone,
    // kErrorAccessDenied when the user lacks permission) on failure.
    virtual std::unique_ptr<DriverHandle> open(const std::string &path, uint32_t *error) = 0;
    // A line for the user explaining the last failed open (for example the permission fix), or
    // the empty text.
    virtual std::string last_open_problem() const { return std::string(); }
};

// The driver registered for an interface class, or null.
Driver *driver_for_class(const Guid &interface_class);

// Registers `driver` for `interface_class` (a later registration replaces an earlier one).
// Backends register themselves through a static DriverRegistration object.
void register_driver(const Guid &interface_class, Driver *driver);

struct DriverRegistration {
    DriverRegistration(const Guid &interface_class, Driver *driver) {
        register_driver(interface_class, driver);
    }
};

} // namespace zvusb
