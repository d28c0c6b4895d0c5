// One USB device of a driver interface class: its descriptors, strings, configuration trees,
// selection state and endpoint objects. The device library keeps one per opened detector.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "usb/cy_endpoint.h"
#include "usb/driver.h"
#include "usb/interface_classes.h"

namespace zvusb {

struct InterfaceDescriptor {
    uint8_t bInterfaceNumber = 0;
    uint8_t bAlternateSetting = 0;
    uint8_t bNumEndpoints = 0;
    uint8_t bInterfaceClass = 0;
    uint8_t bInterfaceSubClass = 0;
    uint8_t bInterfaceProtocol = 0;
    uint8_t iInterface = 0;
    std::vector<EndpointDescriptor> endpoints;
};

struct ConfigurationDescriptor {
    uint8_t bConfigurationValue = 0;
    uint8_t bmAttributes = 0;
    uint8_t bMaxPower = 0;
    uint16_t wTotalLength = 0;
    std::vector<InterfaceDescriptor> interfaces; // every alternate setting of every interface
};

#pragma pack(push, 1)
struct DeviceDescriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t bcdUSB;
    uint8_t bDeviceClass;
    uint8_t bDeviceSubClass;
    uint8_t bDeviceProtocol;
    uint8_t bMaxPacketSize0;
    uint16_t idVendor;
    uint16_t idProduct;
    uint16_t bcdDevice;
    uint8_t iManufacturer;
    uint8_t iProduct;
    uint8_t iSerialNumber;
    uint8_t bNumConfigurations;
};
#pragma pack(pop)
static_assert(sizeof(DeviceDescriptor) == 18, "device descriptor is 18 bytes");

// The capabilities a BOS descriptor announced.
struct BosDescriptor {
    bool present = false;
    bool usb20_extension = false;
    uint32_t usb20_attributes = 0;
    bool superspeed_capability = false;
    uint16_t superspeed_speeds = 0;
    bool container_id = false;
    uint8_t container_uuid[16] = {};
};

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
    uint8_t devices = 0;    // device count, refreshed by device_count()
    int device_index = -1; // index opened last
    DeviceDescriptor device_descriptor = {};
    std::u16string manufacturer, product, serial_number;
    uint16_t language = 0;
    std::vector<ConfigurationDescriptor> configurations;
    BosDescriptor bos;
    bool high_speed = false;
    bool super_speed = false;
    uint8_t configuration = 0;
    uint8_t interface_number = 0;
    uint8_t alt_setting = 0;
    uint8_t address = 0;
    uint32_t driver_version = 0;
    uint32_t stack_version = 0;
    std::string friendly_name, device_name;
    uint32_t last_error = 0;

  private:
    std::unique_ptr<DriverHandle> handle_;
    std::unique_ptr<CCyControlEndPoint> control_endpoint_;
    std::vector<std::unique_ptr<CCyUSBEndPoint>> endpoints_; // of the current alternate setting
};

} // namespace zvusb
