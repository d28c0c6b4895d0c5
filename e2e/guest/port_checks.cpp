// Ports and LEDs through vendor requests: driving, reading, square waves (with the adjustments
// made for old firmware) and what a driven port does to the port bits of the samples.
#include "e2e/guest/port_record.h"
#include "e2e/guest/samples.h"
#include "e2e/guest/steps.h"

namespace zve2e {

namespace {
constexpr size_t kSamples = 4096;
constexpr ZV_PORT_t kNoSuchPort = ZV_PORT_t(7);
} // namespace

void check_ports(Report &report, Attached &a) {
    zv_device *dev = a.dev;
    const int s = zv_port_drive(dev, ZV_PORT_S, 1);
    const int t = zv_port_drive(dev, ZV_PORT_T, 1);
    std::vector<uint16_t> samples(kSamples);
    const int status = collect_raw(a, samples);
    const size_t s_low = bit_mismatches(samples.data(), kSamples, kPortSBit, true);
    const size_t t_low = bit_mismatches(samples.data(), kSamples, kPortTBit, true);
    const size_t breaks = ramp_breaks(samples.data(), kSamples).size();
    report.check(s == 0 && t == 0 && status == 0 && s_low == 0 && t_low == 0 && breaks == 0,
                 "ports S and T driven high show in bits 14 and 15",
                 format("drive %d/%d, collection %d, %zu samples with S low, %zu with T low, "
                        "%zu ramp breaks",
                        s, t, status, s_low, t_low, breaks));

    // A read makes the port an input again; the detector's inputs are low.
    const int level = zv_port_read(dev, ZV_PORT_S);
    const PortState after = port_state(dev, ZV_PORT_S);
    report.check(level == 0 && after.mode == 0, "port S read as an input",
                 format("level %d, %s", level, describe(after).c_str()));
    report.check(zv_port_read(dev, ZV_PORT_T) == 0 && zv_port_read(dev, ZV_PORT_A) == 0,
                 "ports T and A read low", last_error());
    const int bad = zv_port_read(dev, kNoSuchPort);
    report.check(bad == 48 && zv_get_error() == 48, "port 7 is refused",
                 format("read %d, %s", bad, last_error().c_str()));

    const int led = zv_port_drive(dev, ZV_LEDR, 1);
    const PortState red = port_state(dev, ZV_LEDR);
    report.check(led == 0 && red.mode == 1 && red.level == 1, "red LED driven on", describe(red));
    zv_port_drive(dev, ZV_LEDR, 0);

    const int pwm = zv_port_pwm(dev, ZV_LEDB, 1, 100);
    const PortState blue = port_state(dev, ZV_LEDB);
    report.check(pwm == 0 && blue.mode == 4 && blue.period == 100 && blue.threshold == 1,
                 "square wave sent unchanged to current firmware", describe(blue));
    zv_port_drive(dev, ZV_LEDB, 0);
}

void check_old_firmware_ports(Report &report, Attached &a) {
    zv_device *dev = a.dev;
    struct Case {
        uint32_t threshold, period;
        uint8_t mode, level;
        const char *what;
    };
    const Case cases[] = {
        {1, 100, 1, 0, "old firmware: a square wave high for 1 clock becomes drive low"},
        {100, 100, 1, 1, "old firmware: a square wave never low becomes drive high"},
        {0, 0, 1, 1, "old firmware: threshold 0 of period 0 becomes drive high"},
        {25, 100, 4, 0, "old firmware: a proper square wave is sent as it is"},
    };
    for (const Case &c : cases) {
        const int status = zv_port_pwm(dev, ZV_PORT_S, c.threshold, c.period);
        const PortState s = port_state(dev, ZV_PORT_S);
        const bool square_ok = c.mode != 4 || (s.period == c.period && s.threshold == c.threshold);
        report.check(status == 0 && s.mode == c.mode && s.level == c.level && square_ok, c.what,
                     describe(s));
    }
    zv_port_read(dev, ZV_PORT_S);
}

} // namespace zve2e
