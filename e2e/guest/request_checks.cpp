// Vendor requests through the libusb backend: the identity block, data in both directions, a
// request without data, stalled requests in both directions and endpoint 0 working after them.
#include <chrono>
#include <cstring>

#include "e2e/guest/port_record.h"
#include "e2e/guest/steps.h"
#include "usb/byte_order.h"

namespace zve2e {

namespace {

constexpr uint32_t kTimeoutMs = 1000;
constexpr uint8_t kIdentityRequest = 0x30;
constexpr uint8_t kAdcReadRequest = 0xC2;
constexpr uint8_t kPortRequest = 0xC8;
constexpr uint8_t kFeatureSetRequest = 0xCC;
constexpr uint8_t kUnknownRequest = 0x7F;
constexpr uint8_t kClockDivideRegister = 11;
constexpr uint16_t kNoSuchPort = 9;
constexpr size_t kIdentitySize = 72;
constexpr uint32_t kShortTimeoutMs = 500;
// A request that times out must end well within this.
constexpr double kLateSeconds = 3;

bool identity_matches(const uint8_t *block, const Detector &d) {
    if (block[1] != d.firmware[0] || block[2] != d.firmware[1] || block[3] != d.firmware[2])
        return false;
    if (std::strncmp(reinterpret_cast<const char *>(block + 4), d.serial, 15) != 0) return false;
    if (block[19] != 14 || zvusb::get_le32(block + 20) != d.samplerate) return false;
    return std::memcmp(block + 24, d.calibrations, sizeof d.calibrations) == 0;
}

bool error_is(int code, const char *message) {
    return zv_get_error() == code && std::strcmp(zv_get_error_string(), message) == 0;
}

// Requests the detector never answers end after their time-out, and the next request works.
void check_unanswered(Report &report, Attached &a) {
    const uint8_t code = a.detector->unanswered_request;
    if (code == 0) return;
    uint8_t data[4] = {};
    for (bool in : {true, false}) {
        const auto start = std::chrono::steady_clock::now();
        const int status =
            in ? zv_in_request(a.dev, code, 0, 0, data, sizeof data, kShortTimeoutMs)
               : zv_out_request(a.dev, code, 0, 0, data, sizeof data, kShortTimeoutMs);
        const double took = seconds_since(start);
        report.check(status == 32 &&
                         error_is(32, in ? "usb in request error" : "usb out request error") &&
                         took >= kShortTimeoutMs / 1e3 && took < kLateSeconds,
                     in ? "an IN request left unanswered times out"
                        : "an OUT request left unanswered times out",
                     format("status %d after %.2f s, %s", status, took, last_error().c_str()));
    }
    const int clock = zv_read_feature(a.dev, ZV_FEATURE_ADCCLOCK);
    report.check(clock == 1, "endpoint 0 works after the time-outs",
                 format("feature reads %d", clock));
}

} // namespace

void check_requests(Report &report, Attached &a) {
    zv_device *dev = a.dev;
    uint8_t block[kIdentitySize] = {};
    int status = zv_in_request(dev, kIdentityRequest, 0, 0, block, kIdentitySize, kTimeoutMs);
    report.check(status == 0 && identity_matches(block, *a.detector),
                 "identity block read with request 0x30", format("status %d", status));

    status = zv_write_adc_register(dev, kClockDivideRegister, 3);
    uint8_t value = 0;
    const int read =
        zv_in_request(dev, kAdcReadRequest, 0, kClockDivideRegister, &value, 1, kTimeoutMs);
    report.check(status == 0 && read == 0 && value == 3, "ADC register written and read back",
                 format("write %d, read %d, value %u", status, read, value));
    zv_write_adc_register(dev, kClockDivideRegister, 0);

    const uint8_t drive_high[10] = {1, 1};
    status =
        zv_out_request(dev, kPortRequest, ZV_LEDG, 0, drive_high, sizeof drive_high, kTimeoutMs);
    uint8_t record[10] = {};
    const int got = zv_port_status(dev, ZV_LEDG, record);
    report.check(
        status == 0 && got == 0 && std::memcmp(record, drive_high, 10) == 0,
        "request with an OUT data stage arrives whole",
        format("send %d, status read %d, mode %u level %u", status, got, record[0], record[1]));
    zv_port_drive(dev, ZV_LEDG, 0);

    status =
        zv_out_request(dev, kFeatureSetRequest, 1, ZV_FEATURE_ANTIALIAS, nullptr, 0, kTimeoutMs);
    const int antialias = zv_read_feature(dev, ZV_FEATURE_ANTIALIAS);
    report.check(status == 0 && antialias == 1, "request without data stage",
                 format("status %d, feature reads %d", status, antialias));
    zv_set_antialias(dev, false);

    uint8_t answer[4] = {};
    status = zv_in_request(dev, kUnknownRequest, 0, 0, answer, sizeof answer, kTimeoutMs);
    report.check(status == 32 && error_is(32, "usb in request error"),
                 "stalled IN request fails cleanly",
                 format("status %d, %s", status, last_error().c_str()));
    status = zv_out_request(dev, kPortRequest, kNoSuchPort, 0, drive_high, sizeof drive_high,
                            kTimeoutMs);
    report.check(status == 32 && error_is(32, "usb out request error"),
                 "stalled OUT request fails cleanly",
                 format("status %d, %s", status, last_error().c_str()));
    const int clock = zv_read_feature(dev, ZV_FEATURE_ADCCLOCK);
    report.check(clock == 1, "endpoint 0 works after the stalls",
                 format("feature reads %d", clock));
    check_unanswered(report, a);
    report.check(error_is(32, "usb out request error"),
                 "a later success leaves the stored error in place", last_error());
}

} // namespace zve2e
