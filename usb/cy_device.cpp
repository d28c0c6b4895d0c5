#include "usb/cy_device.h"

#include <algorithm>
#include <cstring>

#include "usb/byte_order.h"
#include "usb/descriptor_fault.h"
#include "usb/descriptor_parser.h"
#include "usb/ioctl_codes.h"
#include "usb/system_errors.h"

namespace zvusb {

namespace {

constexpr uint8_t kGetDescriptor = 6; // standard request code
constexpr uint32_t kDescriptorTimeoutMs = 5000;
constexpr uint16_t kLanguageEnglishUs = 0x0409;
constexpr size_t kMaxStringBytes = 256;
constexpr uint32_t kNameBytes = 256;

bool is_usb3(uint16_t bcd_usb) {
    return (bcd_usb & 0xFF00) == 0x0300;
}
bool is_usb2(uint16_t bcd_usb) {
    return (bcd_usb & 0xFF00) == 0x0200;
}

// bMaxPacketSize0 is a byte count up to USB 2 and a power of two from USB 3 on.
uint16_t control_packet_size(const DeviceDescriptor &d) {
    if (d.bcdUSB >= 0x0300) return d.bMaxPacketSize0 < 16 ? uint16_t(1u << d.bMaxPacketSize0) : 0;
    return d.bMaxPacketSize0;
}

std::string text_of(const uint8_t *bytes, size_t size) {
    const void *end = std::memchr(bytes, 0, size);
    return std::string(reinterpret_cast<const char *>(bytes),
                       end ? size_t(static_cast<const uint8_t *>(end) - bytes) : size);
}

} // namespace

CCyDriverDevice::CCyDriverDevice(void *window, const Guid &cls, bool open_flag)
    : interface_class(cls) {
    // Arrival notifications for a window do not exist on this platform.
    (void)window;
    if (open_flag) open_device(0);
}

CCyDriverDevice::~CCyDriverDevice() {
    close_device();
}

uint8_t CCyDriverDevice::device_count() {
    Driver *driver = driver_for_class(interface_class);
    paths_ = driver != nullptr ? driver->device_paths() : std::vector<std::string>();
    devices = uint8_t(std::min<size_t>(paths_.size(), 255));
    return devices;
}

bool CCyDriverDevice::open_device(uint8_t index) {
    close_device();
    open_problem.clear();
    device_index = index;
    device_count();
    Driver *driver = driver_for_class(interface_class);
    if (driver == nullptr || index >= devices) {
        last_error = kErrorNoMoreItems;
        return false;
    }
    uint32_t error = kErrorSuccess;
    handle_ = driver->open(paths_[index], &error);
    if (!handle_) {
        last_error = error != kErrorSuccess ? error : uint32_t(kErrorGenFailure);
        // The library tells the user (once, however often it enumerates).
        open_problem = driver->last_open_problem();
        return false;
    }
    // The control endpoint carries the descriptor requests; its packet size is fixed once the
    // device descriptor is known.
    control_endpoint_ = std::make_unique<CCyControlEndPoint>(handle_.get(), 0);
    bool ok = read_device() && read_strings() && read_bos();
    if (ok) {
        read_driver_data();
        ok = read_configurations() && select_initial_setting();
    }
    if (!ok) {
        uint32_t error_of_open = last_error != kErrorSuccess ? last_error : kErrorGenFailure;
        close_device();
        last_error = error_of_open;
        return false;
    }
    last_error = kErrorSuccess;
    return true;
}

void CCyDriverDevice::close_device() {
    // The handle goes first: closing it completes every transfer still in flight.
    handle_.reset();
    endpoints_.clear();
    control_endpoint_.reset();
    device_descriptor = {};
    manufacturer.clear();
    product.clear();
    serial_number.clear();
    language = 0;
    configurations.clear();
    bos = BosDescriptor();
    high_speed = super_speed = paced_by_host = false;
    configuration = interface_number = alt_setting = 0;
    address = 0;
    driver_version = stack_version = 0;
    friendly_name.clear();
    device_name.clear();
}

int CCyDriverDevice::get_descriptor(uint8_t type, uint8_t index, uint16_t lang, uint8_t *buffer,
                                    uint16_t length) {
    CCyControlEndPoint &ep = *control_endpoint_;
    ep.target = 0;       // device
    ep.request_type = 0; // standard
    ep.direction = 1;    // from the device
    ep.request_code = kGetDescriptor;
    ep.value = uint16_t((type << 8) | index);
    ep.index = lang;
    ep.timeout_ms = kDescriptorTimeoutMs;
    int32_t received = length;
    if (!ep.transfer_sync(buffer, received)) {
        last_error = ep.last_error != kErrorSuccess ? ep.last_error : uint32_t(kErrorGenFailure);
        return -1;
    }
    return received;
}

bool CCyDriverDevice::get_whole_descriptor(uint8_t type, uint8_t index, uint16_t lang,
                                           uint16_t header_length, bool total_at_2,
                                           std::vector<uint8_t> *out) {
    out->assign(header_length, 0);
    int received = get_descriptor(type, index, lang, out->data(), header_length);
    if (received < 0) return false;
    if (received < header_length) {
        out->resize(size_t(received));
        return true;
    }
    uint16_t total = total_at_2 ? descriptor_total_length(out->data()) : (*out)[0];
    if (total <= header_length) return true;
    out->assign(total, 0);
    received = get_descriptor(type, index, lang, out->data(), total);
    if (received < 0) return false;
    out->resize(size_t(received));
    return true;
}

bool CCyDriverDevice::read_device() {
    uint8_t raw[kDeviceDescriptorSize] = {};
    int received = get_descriptor(descriptor_type::kDevice, 0, 0, raw, sizeof raw);
    if (received < 0) return false;
    if (!parse_device_descriptor(raw, size_t(received), &device_descriptor)) {
        device_descriptor = {};
        report_descriptor_fault(DescriptorFault::kConfiguration);
        last_error = kErrorInvalidParameter;
        return false;
    }
    control_endpoint_->max_packet_size = control_packet_size(device_descriptor);
    return true;
}

std::u16string CCyDriverDevice::read_string(uint8_t index) {
    std::vector<uint8_t> raw;
    if (index == 0 ||
        !get_whole_descriptor(descriptor_type::kString, index, language, 2, false, &raw))
        return std::u16string();
    size_t size = std::min({raw.size(), kMaxStringBytes, raw.empty() ? 0 : size_t(raw[0])});
    if (size <= 2 || raw[1] != descriptor_type::kString) return std::u16string();
    std::u16string text;
    for (size_t i = 2; i + 1 < size; i += 2)
        text.push_back(char16_t(get_le16(&raw[i])));
    return text;
}

bool CCyDriverDevice::read_strings() {
    // Strings are optional: a device without them (or a failing string request) opens all the
    // same, with empty texts.
    std::vector<uint8_t> raw;
    language = 0;
    if (get_whole_descriptor(descriptor_type::kString, 0, 0, 2, false, &raw) && raw.size() >= 4 &&
        raw[1] == descriptor_type::kString) {
        size_t size = std::min(raw.size(), size_t(raw[0]));
        language = get_le16(&raw[2]);
        for (size_t i = 2; i + 1 < size; i += 2)
            if (get_le16(&raw[i]) == kLanguageEnglishUs) language = kLanguageEnglishUs;
    }
    if (language != 0) {
        manufacturer = read_string(device_descriptor.iManufacturer);
        product = read_string(device_descriptor.iProduct);
        serial_number = read_string(device_descriptor.iSerialNumber);
    }
    last_error = kErrorSuccess;
    return true;
}

bool CCyDriverDevice::read_bos() {
    if (!is_usb3(device_descriptor.bcdUSB)) return true;
    std::vector<uint8_t> raw;
    if (!get_whole_descriptor(descriptor_type::kBos, 0, 0, kBosHeaderSize, true, &raw))
        return false;
    if (!parse_bos_descriptor(raw.data(), raw.size(), &bos)) {
        bos = BosDescriptor();
        report_descriptor_fault(DescriptorFault::kBos);
        last_error = kErrorInvalidParameter;
        return false;
    }
    return true;
}

bool CCyDriverDevice::driver_request(uint32_t code, void *buffer, uint32_t length) {
    uint32_t returned = 0, error = kErrorSuccess;
    if (!handle_->io_control(code, buffer, length, buffer, length, &returned, nullptr, &error)) {
        last_error = error;
        return false;
    }
    return returned == length;
}

void CCyDriverDevice::read_driver_data() {
    // Informational queries: a driver that cannot answer one leaves its field at zero.
    uint8_t byte = 0;
    if (driver_request(ioctl::kGetAddress, &byte, 1)) address = byte;
    uint8_t name[kNameBytes] = {};
    if (driver_request(ioctl::kGetFriendlyName, name, kNameBytes))
        friendly_name = text_of(name, kNameBytes);
    std::memset(name, 0, sizeof name);
    if (driver_request(ioctl::kGetDeviceName, name, kNameBytes))
        device_name = text_of(name, kNameBytes);
    uint32_t value = 0;
    if (driver_request(ioctl::kGetDriverVersion, &value, 4)) driver_version = value;
    value = 0;
    if (driver_request(ioctl::kGetUsbdiVersion, &value, 4)) stack_version = value;
    value = 0;
    if (driver_request(ioctl::kGetDeviceSpeed, &value, 4)) {
        high_speed = value == ioctl::kSpeedHigh;
        super_speed = value == ioctl::kSpeedSuper;
    }
    byte = 0;
    paced_by_host = driver_request(ioctl::kGetPacing, &byte, 1) && byte == 1;
    last_error = kErrorSuccess;
}

bool CCyDriverDevice::read_configurations() {
    const bool with_companions = !is_usb2(device_descriptor.bcdUSB);
    for (unsigned i = 0; i < device_descriptor.bNumConfigurations; ++i) {
        std::vector<uint8_t> raw;
        if (!get_whole_descriptor(descriptor_type::kConfiguration, uint8_t(i), 0,
                                  kConfigurationHeaderSize, true, &raw))
            return false;
        ConfigurationDescriptor parsed;
        if (!parse_configuration_descriptor(raw.data(), raw.size(), with_companions, &parsed)) {
            configurations.clear();
            report_descriptor_fault(DescriptorFault::kConfiguration);
            last_error = kErrorInvalidParameter;
            return false;
        }
        configurations.push_back(std::move(parsed));
    }
    return true;
}

bool CCyDriverDevice::select_initial_setting() {
    if (configurations.empty() || configurations[0].interfaces.empty()) {
        last_error = kErrorNotSupported;
        return false;
    }
    configuration = 0;
    uint8_t current = 0;
    if (!driver_request(ioctl::kGetAltSetting, &current, 1)) current = 0;
    const auto &interfaces = configurations[0].interfaces;
    const uint8_t number = interfaces[0].bInterfaceNumber;
    auto it = std::find_if(interfaces.begin(), interfaces.end(), [&](const InterfaceDescriptor &i) {
        return i.bInterfaceNumber == number && i.bAlternateSetting == current;
    });
    take_interface(it != interfaces.end() ? *it : interfaces[0]);
    return true;
}

void CCyDriverDevice::take_interface(const InterfaceDescriptor &interface) {
    interface_number = interface.bInterfaceNumber;
    alt_setting = interface.bAlternateSetting;
    endpoints_.clear();
    for (const EndpointDescriptor &d : interface.endpoints) {
        std::unique_ptr<CCyUSBEndPoint> ep;
        switch (d.bmAttributes & 3) {
        case 1:
            ep = std::make_unique<CCyIsocEndPoint>(handle_.get(), d);
            break;
        case 2:
            ep = std::make_unique<CCyBulkEndPoint>(handle_.get(), d);
            break;
        case 3:
            ep = std::make_unique<CCyInterruptEndPoint>(handle_.get(), d);
            break;
        default: { // a control endpoint other than 0: rare, kept for a complete list
            auto control = std::make_unique<CCyControlEndPoint>(handle_.get(), d.wMaxPacketSize);
            control->address = d.bEndpointAddress;
            control->attributes = d.bmAttributes;
            control->interval = d.bInterval;
            ep = std::move(control);
            break;
        }
        }
        ep->transfer_mode = kXferDirect;
        endpoints_.push_back(std::move(ep));
    }
}

int CCyDriverDevice::endpoint_count() const {
    return handle_ ? int(endpoints_.size()) + 1 : 0;
}

CCyUSBEndPoint *CCyDriverDevice::endpoint(int position) const {
    if (!handle_ || position < 0) return nullptr;
    if (position == 0) return control_endpoint_.get();
    size_t i = size_t(position) - 1;
    return i < endpoints_.size() ? endpoints_[i].get() : nullptr;
}

bool CCyDriverDevice::set_alt_setting(uint8_t alt) {
    if (!handle_ || configuration >= configurations.size()) {
        last_error = kErrorInvalidHandle;
        return false;
    }
    const auto &interfaces = configurations[configuration].interfaces;
    auto it = std::find_if(interfaces.begin(), interfaces.end(), [&](const InterfaceDescriptor &i) {
        return i.bInterfaceNumber == interface_number && i.bAlternateSetting == alt;
    });
    uint8_t current = 0;
    if (driver_request(ioctl::kGetAltSetting, &current, 1) && current == alt) {
        // Already selected; the endpoint list follows if it was built for another setting.
        if (alt_setting != alt && it != interfaces.end()) take_interface(*it);
        return true;
    }
    if (it == interfaces.end()) {
        last_error = kErrorInvalidParameter;
        return false;
    }
    uint8_t request = alt;
    if (!driver_request(ioctl::kSetAltSetting, &request, 1)) return false;
    take_interface(*it);
    return true;
}

bool CCyDriverDevice::abort_transfers(CCyUSBEndPoint *ep) {
    return ep != nullptr && ep->abort();
}

bool CCyDriverDevice::reset_endpoint(CCyUSBEndPoint *ep) {
    return ep != nullptr && ep->reset();
}

bool CCyDriverDevice::set_transfer_size(CCyUSBEndPoint *ep, uint32_t size) {
    return ep != nullptr && ep->set_transfer_size(size);
}

bool CCyDriverDevice::wait_for_transfer(Overlapped *ov, uint32_t timeout_ms) {
    return ov != nullptr && ov->event != nullptr && ov->event->wait(timeout_ms);
}

} // namespace zvusb
