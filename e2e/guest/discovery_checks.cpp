// Discovery through the libusb backend: listing, opening the first detector, serial matching
// (including no match) and every identity accessor against the table.
#include <cstring>
#include <unistd.h>

#include "e2e/guest/captured_stderr.h"
#include "e2e/guest/steps.h"

namespace zve2e {

namespace {

constexpr int kMaxListed = 8;
constexpr useconds_t kPollMicros = 200000;

const zv_device_info *listed(const zv_device_info *infos, int n, const Detector &d) {
    for (int i = 0; i < n; ++i)
        if (std::strcmp(infos[i].serial, expected_serial(d)) == 0) return &infos[i];
    return nullptr;
}

int expected_speed(const Detector &d) {
    return d.link == Link::superspeed ? 4 : 3;
}

void check_listing(Report &report) {
    zv_device_info infos[kMaxListed];
    const int n = zv_list_devices(infos, kMaxListed);
    report.check(n == int(kDetectorCount), "every detector is listed",
                 format("%d listed, %s", n, last_error().c_str()));
    for (const Detector &d : kDetectors) {
        const zv_device_info *info = listed(infos, n < kMaxListed ? n : kMaxListed, d);
        if (!report.check(info != nullptr, format("%s listed", d.name).c_str())) continue;
        const uint32_t rate = unprogrammed(d) ? 0 : d.samplerate;
        const uint8_t bits = unprogrammed(d) ? 0 : 14;
        const uint8_t major = unprogrammed(d) ? 0 : d.firmware[0];
        report.check(std::strcmp(info->product, d.product_name) == 0 && info->samplerate == rate &&
                         info->adcbits == bits && info->fw_major == major,
                     format("%s summary", d.name).c_str(),
                     format("'%s' %u S/s %u bits firmware %u.%u.%u", info->product,
                            info->samplerate, info->adcbits, info->fw_major, info->fw_minor,
                            info->fw_patch));
    }
}

void check_identity(Report &report, const Attached &a) {
    const Detector &d = *a.detector;
    zv_device *dev = a.dev;
    const char *serial = zv_get_serial(dev);
    report.check(serial && std::strcmp(serial, expected_serial(d)) == 0, "serial",
                 serial ? serial : "(null)");
    const char *product = zv_get_product(dev);
    report.check(product && std::strcmp(product, d.product_name) == 0, "product name",
                 product ? product : "(null)");
    const bool blank = unprogrammed(d);
    const uint32_t rate = zv_get_samplerate(dev);
    // A blank identity's rate of 0 is no rate: the library reports it as not set.
    report.check(rate == (blank ? ZV_SAMPLERATE_NOT_SET : d.samplerate), "sample rate",
                 format("%u", rate));
    const uint8_t bits = zv_get_adcbits(dev);
    report.check(bits == (blank ? 0 : 14), "ADC bits", format("%u", bits));
    const zv_fwversion fw = zv_get_fwversion(dev);
    const bool fw_ok =
        blank ? (fw.major | fw.minor | fw.patch) == 0
              : fw.major == d.firmware[0] && fw.minor == d.firmware[1] && fw.patch == d.firmware[2];
    report.check(fw_ok, "firmware version", format("%u.%u.%u", fw.major, fw.minor, fw.patch));
    const int speed = zv_get_usb_speed(dev);
    report.check(speed == expected_speed(d), "USB speed", format("%d", speed));
}

} // namespace

bool wait_for_detectors(Report &report, size_t count, int seconds) {
    int n = 0;
    for (int waited = 0; waited < seconds * 5; ++waited) {
        n = zv_list_devices(nullptr, 0);
        if (n >= int(count)) break;
        usleep(kPollMicros);
    }
    return report.check(n == int(count), "detectors attached",
                        format("%d of %zu listed", n, count));
}

void check_discovery(Report &report, AllDetectors &all) {
    check_listing(report);

    zv_device *first = zv_open();
    report.check(first != nullptr, "zv_open opens a detector",
                 first ? zv_get_serial(first) : last_error());
    zv_close(first);

    zv_device *none = zv_open_serial("no such serial");
    report.check(none == nullptr && zv_get_error() == 0 &&
                     std::strcmp(zv_get_error_string(), "no devices found") == 0,
                 "a serial no detector has is not found", last_error());
    zv_close(none);

    for (size_t i = 0; i < kDetectorCount; ++i) {
        Attached &a = all[i];
        a.detector = &kDetectors[i];
        report.section(format("identity: %s", a.detector->name));
        const std::string said =
            captured_stderr([&a] { a.dev = zv_open_serial(serial_piece(*a.detector)); });
        report.check(said.empty(), "the detectors open already are passed by without a word", said);
        if (!report.check(a.dev != nullptr, "opened by a piece of its serial",
                          format("'%s': %s", serial_piece(*a.detector), last_error().c_str())))
            continue;
        check_identity(report, a);
    }
}

} // namespace zve2e
