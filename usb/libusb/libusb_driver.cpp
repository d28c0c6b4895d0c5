#include "usb/libusb/libusb_driver.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

#include <libusb.h>

#include "usb/libusb/libusb_backend_device.h"
#include "usb/libusb/libusb_context.h"
#include "usb/libusb/libusb_errors.h"
#include "usb/qualifying_devices.h"
#include "usb/record_driver_handle.h"
#include "usb/system_errors.h"

namespace zvusb {

namespace {

// What the user reads when a detector cannot be opened; %s is the detector's place on the bus.
constexpr const char *kPermissionProblem =
    "permission denied opening the detector at %s: install the udev rule (run `zv setup`, or "
    "copy udev/60-zv-hlm25.rules to /etc/udev/rules.d and run `udevadm control --reload && "
    "udevadm trigger`), then replug the detector";
constexpr const char *kBusyProblem =
    "the detector at %s is in use by another program: close that program, then try again";

constexpr int kInterface = 0;

struct Location {
    unsigned bus = 0;
    unsigned address = 0;
    std::vector<uint8_t> ports;
};

Location location_of(libusb_device *device) {
    Location l;
    l.bus = libusb_get_bus_number(device);
    l.address = libusb_get_device_address(device);
    uint8_t ports[8];
    int n = libusb_get_port_numbers(device, ports, int(sizeof ports));
    if (n > 0) l.ports.assign(ports, ports + n);
    return l;
}

std::string path_of(const Location &l) {
    return "usb:" + std::to_string(l.bus) + ":" + std::to_string(l.address);
}

// "usb bus 1 port 4.2": where the user finds the detector.
std::string place_of(const Location &l) {
    std::string text = "usb bus " + std::to_string(l.bus);
    if (l.ports.empty()) return text + " address " + std::to_string(l.address);
    text += " port ";
    for (size_t i = 0; i < l.ports.size(); ++i)
        text += (i ? "." : "") + std::to_string(l.ports[i]);
    return text;
}

std::string format(const char *pattern, const std::string &place) {
    char text[512];
    std::snprintf(text, sizeof text, pattern, place.c_str());
    return text;
}

bool qualifies(libusb_device *device) {
    libusb_device_descriptor d;
    return libusb_get_device_descriptor(device, &d) == LIBUSB_SUCCESS &&
           find_qualifying_device(d.idVendor, d.idProduct) != nullptr;
}

// The attached qualifying devices, ordered by bus and port so that indices stay put.
class DeviceList {
  public:
    explicit DeviceList(libusb_context *context) {
        libusb_device **all = nullptr;
        ssize_t n = context != nullptr ? libusb_get_device_list(context, &all) : 0;
        for (ssize_t i = 0; i < n; ++i)
            if (qualifies(all[i])) devices_.push_back(libusb_ref_device(all[i]));
        if (all != nullptr) libusb_free_device_list(all, 1);
        std::sort(devices_.begin(), devices_.end(), [](libusb_device *a, libusb_device *b) {
            Location la = location_of(a), lb = location_of(b);
            return std::tie(la.bus, la.ports, la.address) < std::tie(lb.bus, lb.ports, lb.address);
        });
    }
    ~DeviceList() {
        for (libusb_device *d : devices_)
            libusb_unref_device(d);
    }
    DeviceList(const DeviceList &) = delete;
    DeviceList &operator=(const DeviceList &) = delete;
    const std::vector<libusb_device *> &devices() const { return devices_; }

  private:
    std::vector<libusb_device *> devices_;
};

} // namespace

std::vector<std::string> LibusbDriver::device_paths() {
    DeviceList list(shared_libusb_context());
    std::vector<std::string> paths;
    for (libusb_device *d : list.devices())
        paths.push_back(path_of(location_of(d)));
    return paths;
}

std::unique_ptr<DriverHandle> LibusbDriver::open(const std::string &path, uint32_t *error) {
    problem_.clear();
    uint32_t ignored = 0;
    if (error == nullptr) error = &ignored;
    libusb_context *context = shared_libusb_context();
    DeviceList list(context);
    libusb_device *device = nullptr;
    for (libusb_device *d : list.devices())
        if (path_of(location_of(d)) == path) device = d;
    if (device == nullptr) {
        *error = kErrorFileNotFound;
        return nullptr;
    }
    if (held_->count(path) != 0) {
        *error = kErrorBusy;
        return nullptr;
    }
    const std::string place = place_of(location_of(device));
    libusb_device_handle *handle = nullptr;
    int r = libusb_open(device, &handle);
    if (r == LIBUSB_SUCCESS) {
        // A kernel driver bound to the interface is set aside while we hold it.
        libusb_set_auto_detach_kernel_driver(handle, 1);
        r = libusb_claim_interface(handle, kInterface);
        if (r != LIBUSB_SUCCESS) libusb_close(handle);
    }
    if (r != LIBUSB_SUCCESS) {
        *error = system_error_of_libusb(r);
        if (*error == kErrorAccessDenied) problem_ = format(kPermissionProblem, place);
        if (*error == kErrorBusy) problem_ = format(kBusyProblem, place);
        return nullptr;
    }
    *error = kErrorSuccess;
    held_->insert(path);
    auto backend = std::make_unique<LibusbBackendDevice>(
        context, handle, place, [held = held_, path] { held->erase(path); });
    return std::make_unique<RecordDriverHandle>(std::move(backend));
}

LibusbDriver &libusb_driver() {
    static LibusbDriver driver;
    return driver;
}

namespace {
const DriverRegistration kRegistration(kInterfaceClassPrimary, &libusb_driver());
} // namespace

} // namespace zvusb
