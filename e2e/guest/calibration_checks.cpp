// Stored calibrations by type for each model, the automatic type following the gain read over
// USB, and calibrations rescaled by the photodiode's responsivity.
#include <cmath>

#include "e2e/guest/steps.h"

namespace zve2e {

namespace {

constexpr int kTypes = 11;
constexpr int kUnsupported = -1;
constexpr int kAuto = -2;
// Identity pair each type selects, for single-ended and balanced units.
constexpr int kSingleEndedPair[kTypes] = {0, 1, 2, 3, kAuto, -1, -1, -1, -1, -1, -1};
constexpr int kBalancedPair[kTypes] = {-1, -1, -1, -1, 0, 0, 2, 1, 3, 4, 5};

struct Photodiode {
    char code;
    int peak;
    double inside;  // a wavelength on the curve, away from the peak
    double outside; // beyond the curve
};
constexpr Photodiode kPhotodiodes[] = {
    {'I', 1550, 1300, 2000}, {'V', 760, 500, 1200}, {'N', 900, 700, 1100}};

bool balanced(const Detector &d) {
    return d.serial[6] == 'D';
}

const Photodiode *photodiode(const Attached &a) {
    if (unprogrammed(*a.detector)) return nullptr;
    for (const Photodiode &p : kPhotodiodes)
        if (a.detector->serial[12] == p.code) return &p;
    return nullptr;
}

// The stored pair as the library reports it: a pair never programmed reads as (1, 0).
zv_calibration stored(const Attached &a, int pair) {
    if (unprogrammed(*a.detector)) return {1.0, 0.0};
    const float gain = a.detector->calibrations[pair][0];
    const float offset = a.detector->calibrations[pair][1];
    if (gain == 0.0f && offset == 0.0f) return {1.0, 0.0};
    return {double(gain), double(offset)};
}

bool same(const zv_calibration &c, const zv_calibration &expected) {
    return std::fabs(c.gain - expected.gain) <= 1e-12 * std::fabs(expected.gain) &&
           std::fabs(c.offset - expected.offset) <= 1e-12 * std::fabs(expected.offset);
}

std::string show(const zv_calibration &c) {
    return format("(%.9g, %.9g), %s", c.gain, c.offset, last_error().c_str());
}

void check_types(Report &report, Attached &a) {
    const int *pairs = balanced(*a.detector) ? kBalancedPair : kSingleEndedPair;
    for (int type = 0; type < kTypes; ++type) {
        const std::string what = format("calibration type %d", type);
        if (pairs[type] == kAuto) {
            for (bool high : {true, false}) {
                zv_set_highgain(a.dev, high);
                const zv_calibration c = zv_get_calibration(a.dev, ZV_CALIBRATION_TYPE_t(type));
                report.check(
                    same(c, stored(a, high ? 0 : 1)),
                    format("automatic calibration in %s gain", high ? "high" : "low").c_str(),
                    show(c));
            }
            continue;
        }
        const zv_calibration c = zv_get_calibration(a.dev, ZV_CALIBRATION_TYPE_t(type));
        if (pairs[type] == kUnsupported)
            report.check(c.gain == 0 && c.offset == 0 && zv_get_error() == 48,
                         (what + " is not offered by this model").c_str(), show(c));
        else
            report.check(same(c, stored(a, pairs[type])), what.c_str(), show(c));
    }
}

void check_responsivity(Report &report, Attached &a) {
    const Photodiode *p = photodiode(a);
    const int peak = zv_get_peak_responsivity(a.dev);
    const ZV_CALIBRATION_TYPE_t type =
        balanced(*a.detector) ? ZV_CALIBRATION_BALANCED_DIGITAL : ZV_CALIBRATION_DIGITAL_LOWGAIN;
    if (!p) {
        const zv_calibration rel = zv_get_rel_calibration(a.dev, type, 1000);
        report.check(peak == -1 && rel.gain == 0 && rel.offset == 0 && zv_get_error() == 52,
                     "no photodiode configured", format("peak %d, ", peak) + show(rel));
        return;
    }
    report.check(peak == p->peak, "peak responsivity", format("%d nm", peak));
    const zv_calibration base = zv_get_calibration(a.dev, type);
    const zv_calibration at_peak = zv_get_rel_calibration(a.dev, type, p->peak);
    report.check(same(at_peak, base), "calibration at the peak unchanged", show(at_peak));
    const double r = zv_get_rel_responsivity(a.dev, p->inside);
    const zv_calibration inside = zv_get_rel_calibration(a.dev, type, p->inside);
    const double rf = double(float(r));
    report.check(r > 0 && r < 1 && same(inside, {base.gain / rf, base.offset / rf}),
                 format("calibration rescaled at %.0f nm", p->inside).c_str(),
                 format("responsivity %.6f, ", r) + show(inside));
    const zv_calibration outside = zv_get_rel_calibration(a.dev, type, p->outside);
    report.check(outside.gain == 0 && outside.offset == 0 && zv_get_error() == 48,
                 format("%.0f nm is off the curve", p->outside).c_str(), show(outside));
}

} // namespace

void check_calibrations(Report &report, Attached &a) {
    check_types(report, a);
    check_responsivity(report, a);
    zv_set_highgain(a.dev, false);
}

} // namespace zve2e
