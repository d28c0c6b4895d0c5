// Vendor control requests on endpoint 0: every configuration exchange with the detector.
#include <cstdint>
#include <mutex>

#include "c_boundary.h"
#include "continuous/device_stream.h"
#include "device_record.h"
#include "errors.h"
#include "interrupt.h"
#include "requests.h"
#include "setting_names.h"

namespace {

// Control endpoint setup fields.
constexpr uint8_t kTargetDevice = 0;
constexpr uint8_t kRequestTypeVendor = 2;
constexpr uint8_t kDirectionOut = 0;
constexpr uint8_t kDirectionIn = 1;

// Loads the control endpoint with one request and runs it. The endpoint object is shared by every
// request of the device, so requests on one device take turns (a stream's transfers do not wait
// for them: they use the streaming endpoint).
int control_request(zv_device *dev, uint8_t direction, uint8_t request, uint16_t value,
                    uint16_t index, uint8_t *data, uint16_t length, uint32_t timeout) {
    if (dev == nullptr) return zv::set_error(zv::Error::invalid_device);
    if (data == nullptr && length > 0) return zv::set_error(zv::Error::invalid_parameters);
    zv::Error failure =
        direction == kDirectionIn ? zv::Error::usb_in_request : zv::Error::usb_out_request;
    zvusb::CCyControlEndPoint *ep = dev->transport ? dev->transport->control_endpoint() : nullptr;
    if (ep == nullptr) return zv::set_error(failure);
    std::lock_guard<std::mutex> turn(dev->control_mutex);

    ep->target = kTargetDevice;
    ep->request_type = kRequestTypeVendor;
    ep->direction = direction;
    ep->request_code = request;
    ep->value = value;
    ep->index = index;
    ep->timeout_ms = timeout;
    int32_t transferred = length;
    // A request the detector never answers is abandoned (cancelled and given back) when the
    // program asks the call to stop: Ctrl-C is answered within the interrupt check's period.
    if (!ep->transfer_sync(data, transferred, nullptr, [] { return zv::interrupt_requested(); }))
        return zv::set_error(zv::interrupt_requested() ? zv::Error::interrupted : failure);
    return 0;
}

} // namespace

namespace zv {

int vendor_out(zv_device *dev, uint8_t request, uint16_t value, uint16_t index, const uint8_t *data,
               uint16_t length, uint32_t timeout) {
    // An OUT transfer only reads the buffer.
    return control_request(dev, kDirectionOut, request, value, index, const_cast<uint8_t *>(data),
                           length, timeout);
}

int vendor_in(zv_device *dev, uint8_t request, uint16_t value, uint16_t index, uint8_t *data,
              uint16_t length, uint32_t timeout) {
    return control_request(dev, kDirectionIn, request, value, index, data, length, timeout);
}

} // namespace zv

extern "C" {

int zv_out_request(zv_device *dev, uint8_t request, uint16_t value, uint16_t index,
                   const uint8_t *data, uint16_t length, uint32_t timeout) {
    return zv::c_status([&] {
        const int status = zv::vendor_out(dev, request, value, index, data, length, timeout);
        // A request the library cannot interpret may change anything: a stream notes that it came.
        if (status == 0) zv::note_setting(dev, zv::change::kVendorRequest, request);
        return status;
    });
}

int zv_in_request(zv_device *dev, uint8_t request, uint16_t value, uint16_t index, uint8_t *data,
                  uint16_t length, uint32_t timeout) {
    return zv::c_status(
        [&] { return zv::vendor_in(dev, request, value, index, data, length, timeout); });
}

} // extern "C"
