// Features, the ADC's test patterns as they appear in collected samples, and reset.
#include "e2e/guest/samples.h"
#include "e2e/guest/steps.h"

namespace zve2e {

namespace {

constexpr size_t kPatternSamples = 4096;
constexpr uint16_t kUserPattern = 0x1234;
constexpr size_t kPn9Period = 511;
constexpr uint16_t kCheckerboardEven = 0x2AAA;
constexpr uint16_t kCheckerboardOdd = 0x1555;

using FeatureSetter = int (*)(zv_device *, bool);
struct Feature {
    ZV_FEATURE_t feature;
    FeatureSetter set;
    const char *name;
    int power_up; // state after power-up and reset
};
constexpr Feature kFeatures[] = {
    {ZV_FEATURE_HIGHGAIN, zv_set_highgain, "high gain", 0},
    {ZV_FEATURE_ANTIALIAS, zv_set_antialias, "anti-aliasing filter", 0},
    {ZV_FEATURE_POWERDOWN, zv_set_powerdown, "power-down", 0},
    {ZV_FEATURE_ADCCLOCK, zv_set_adcclock, "ADC clock", 1},
};

bool all_codes(const std::vector<uint16_t> &s, uint16_t code) {
    for (uint16_t v : s)
        if ((v & kCodeMask) != code) return false;
    return true;
}

bool checkerboard(const std::vector<uint16_t> &s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const uint16_t c = s[i] & kCodeMask;
        if (c != kCheckerboardEven && c != kCheckerboardOdd) return false;
        if (i > 0 && c == (s[i - 1] & kCodeMask)) return false;
    }
    return true;
}

// A sequence repeating every 511 samples that is neither constant nor the ramp.
bool pn9_like(const std::vector<uint16_t> &s) {
    size_t changes = 0;
    for (size_t i = 0; i + kPn9Period < s.size(); ++i)
        if ((s[i] & kCodeMask) != (s[i + kPn9Period] & kCodeMask)) return false;
    for (size_t i = 1; i < kPn9Period; ++i)
        if ((s[i] & kCodeMask) != (s[i - 1] & kCodeMask)) ++changes;
    return changes > kPn9Period / 2 && ramp_breaks(s.data(), s.size()).size() > s.size() / 2;
}

std::string codes(const std::vector<uint16_t> &s) {
    return format("status ok, codes %04x %04x %04x %04x ...", s[0] & kCodeMask, s[1] & kCodeMask,
                  s[2] & kCodeMask, s[3] & kCodeMask);
}

void collect_and_check(Report &report, Attached &a, const char *what,
                       bool (*holds)(const std::vector<uint16_t> &)) {
    std::vector<uint16_t> s(kPatternSamples);
    const int status = collect_raw(a, s);
    report.check(status == 0 && holds(s), what,
                 status == 0 ? codes(s) : format("status %d, %s", status, last_error().c_str()));
}

} // namespace

void check_features(Report &report, Attached &a) {
    for (const Feature &f : kFeatures) {
        const int set_on = f.set(a.dev, true);
        const int on = zv_read_feature(a.dev, f.feature);
        const int set_off = f.set(a.dev, false);
        const int off = zv_read_feature(a.dev, f.feature);
        report.check(set_on == 0 && on == 1 && set_off == 0 && off == 0,
                     format("%s switched on and off", f.name).c_str(),
                     format("set %d/%d, read %d/%d", set_on, set_off, on, off));
        f.set(a.dev, f.power_up != 0);
    }
    const int unknown = zv_read_feature(a.dev, ZV_FEATURE_t(7));
    report.check(unknown == -2 && zv_get_error() == 48, "a feature the detector lacks",
                 format("read %d, %s", unknown, last_error().c_str()));
}

void check_test_patterns(Report &report, Attached &a) {
    zv_test_checkerboard(a.dev);
    collect_and_check(report, a, "checkerboard pattern", checkerboard);
    const int status = zv_test_user(a.dev, kUserPattern);
    report.check(status == 0, "user pattern set", format("status %d", status));
    collect_and_check(report, a, "user pattern",
                      [](const std::vector<uint16_t> &s) { return all_codes(s, kUserPattern); });
    zv_test_pn9(a.dev);
    collect_and_check(report, a, "PN9 pattern", pn9_like);
    zv_test_normal(a.dev);
    collect_and_check(report, a, "normal samples again", [](const std::vector<uint16_t> &s) {
        return ramp_breaks(s.data(), s.size()).empty();
    });
}

void check_reset(Report &report, Attached &a) {
    zv_set_highgain(a.dev, true);
    zv_set_powerdown(a.dev, true);
    zv_port_drive(a.dev, ZV_PORT_S, 1);
    zv_test_checkerboard(a.dev);
    const int status = zv_reset(a.dev);
    report.check(status == 0, "reset request", format("status %d", status));
    for (const Feature &f : kFeatures) {
        const int state = zv_read_feature(a.dev, f.feature);
        report.check(state == f.power_up, format("%s back to its power-up state", f.name).c_str(),
                     format("reads %d", state));
    }
    uint8_t record[10] = {0xFF};
    zv_port_status(a.dev, ZV_PORT_S, record);
    report.check(record[0] == 0, "port S back to input", format("mode %u", record[0]));
    collect_and_check(report, a, "ramp without port bits after reset",
                      [](const std::vector<uint16_t> &s) {
                          return ramp_breaks(s.data(), s.size()).empty() &&
                                 bit_mismatches(s.data(), s.size(), kPortSBit, false) == 0;
                      });
}

} // namespace zve2e
