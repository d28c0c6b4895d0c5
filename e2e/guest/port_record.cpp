#include "e2e/guest/port_record.h"

#include "e2e/guest/report.h"
#include "usb/byte_order.h"

namespace zve2e {

namespace {
constexpr uint64_t kDeviceClockHz = 200000000;
} // namespace

PortState port_state(zv_device *dev, ZV_PORT_t port) {
    uint8_t record[10] = {};
    PortState s;
    s.status = zv_port_status(dev, port, record);
    s.mode = record[0];
    s.level = record[1];
    s.period = zvusb::get_le32(record + 2);
    s.threshold = zvusb::get_le32(record + 6);
    return s;
}

std::string describe(const PortState &s) {
    return format("status %d, mode %u level %u period %u threshold %u", s.status, s.mode, s.level,
                  s.period, s.threshold);
}

uint32_t clocks_for_samples(zv_device *dev, uint32_t samples) {
    const uint32_t rate = zv_get_samplerate(dev);
    return rate == 0 ? 0 : uint32_t(uint64_t(samples) * kDeviceClockHz / rate);
}

} // namespace zve2e
