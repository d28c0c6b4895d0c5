// One USB device of a driver interface class: its descriptors, strings, configuration trees,
// selection state and endpoint objects. The device library keeps one per opened detector.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "usb/cy_endpoint.h"
#include "usb/descriptors.h"
#include "usb/driver.h"
#include "usb/interface_classes.h"

namespace zvusb {

class CCyDriverDevice {
  public:
    // Records the class; with a window handle would register for arrival notifications (there are
    // none on this platform); with open_flag set, opens index 0.
    CCyDriverDevice(void *window, const Guid &interface_class, bool open_flag);
    ~CCyDriverDevice(); // closes the device
    CCyDriverDevice(const CCyDriverDevice &) = delete;
    CCyDriverDevice &operator=(const CCyDriverDevice &) = delete;

    // Counts the present devices of the class (8-bit).
    uint8_t device_count();
    // The driver's path of device `index` (below the last device_count()): the same detector
    // keeps it while attached, whichever handle has it open.
    const std::string &device_path(uint8_t index) const { return paths_.at(index); }
    // Closes any open device, then opens the device at `index`, reads its descriptors and builds
    // the endpoint objects. False (and closed) on failure.
    bool open_device(uint8_t index);
    void close_device();
    bool is_open() const { return handle_ != nullptr; }

    uint16_t vendor_id() const { return device_descriptor.idVendor; }
    uint16_t product_id() const { return device_descriptor.idProduct; }
    uint16_t bcd_usb() const { return device_descriptor.bcdUSB; }

    // Endpoints of the current alternate setting + 1 (the control endpoint); 0 when closed.
    int endpoint_count() const;
    // Position 0 is the control endpoint, then the current alternate setting's endpoints.
    CCyUSBEndPoint *endpoint(int position) const;
    CCyControlEndPoint *control_endpoint() const { return control_endpoint_.get(); }

    bool set_alt_setting(uint8_t alt);
    // Forwarders to the endpoint operations of the same purpose.
    bool abort_transfers(CCyUSBEndPoint *endpoint);
    bool reset_endpoint(CCyUSBEndPoint *endpoint);
    bool set_transfer_size(CCyUSBEndPoint *endpoint, uint32_t size);
    bool wait_for_transfer(Overlapped *ov, uint32_t timeout_ms);

    // Fields the library relies on.
    Guid interface_class;
    uint8_t devices = 0;   // device count, refreshed by device_count()
    int device_index = -1; // index opened last
    DeviceDescriptor device_descriptor = {};
    std::u16string manufacturer, product, serial_number;
    uint16_t language = 0;
    std::vector<ConfigurationDescriptor> configurations;
    BosDescriptor bos;
    bool high_speed = false;
    bool super_speed = false;
    // The device streams only as fast as the host takes samples (ioctl::kGetPacing).
    bool paced_by_host = false;
    uint8_t configuration = 0;
    uint8_t interface_number = 0;
    uint8_t alt_setting = 0;
    uint8_t address = 0;
    uint32_t driver_version = 0;
    uint32_t stack_version = 0;
    std::string friendly_name, device_name;
    uint32_t last_error = 0;
    // Why the last open failed, in words for the user (for example the permission fix), or empty.
    std::string open_problem;

  private:
    // Open steps after the handle is open; false with last_error set (and the descriptor report
    // written for malformed tables).
    bool read_device();
    bool read_strings();
    bool read_bos();
    void read_driver_data();
    bool read_configurations();
    bool select_initial_setting();
    // A GET_DESCRIPTOR control request; the bytes received, or -1 when the request failed.
    int get_descriptor(uint8_t type, uint8_t index, uint16_t language, uint8_t *buffer,
                       uint16_t length);
    // A descriptor whose header tells its full length (byte 0 or, with `total_at_2`, bytes 2-3):
    // reads the header, then the whole, into `out` (the bytes received). False when a request
    // fails.
    bool get_whole_descriptor(uint8_t type, uint8_t index, uint16_t language,
                              uint16_t header_length, bool total_at_2, std::vector<uint8_t> *out);
    std::u16string read_string(uint8_t index);
    // A driver query or setting without overlapped record; true only with the full length back.
    bool driver_request(uint32_t code, void *buffer, uint32_t length);
    void take_interface(const InterfaceDescriptor &interface);

    std::vector<std::string> paths_; // device paths of the class, as last counted
    std::unique_ptr<DriverHandle> handle_;
    std::unique_ptr<CCyControlEndPoint> control_endpoint_;
    std::vector<std::unique_ptr<CCyUSBEndPoint>> endpoints_; // of the current alternate setting
};

} // namespace zvusb
