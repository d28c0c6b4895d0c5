// The photodiode's responsivity relative to its peak, by wavelength.
#include <cmath>
#include <limits>

#include "device_record.h"
#include "errors.h"
#include "identity.h"
#include "model_codes.h"
#include "photodiodes.h"

namespace {

// The curves are defined by this evaluation: each power of the wavelength computed on its own (not
// by Horner's rule) and the terms summed highest power first. Other orders differ in the last bits.
double evaluate(const zv::ResponsivitySegment &segment, double wavelength) {
    double sum = 0.0;
    for (int k = 0; k <= segment.degree; ++k)
        sum += segment.coefficients[k] * std::pow(wavelength, segment.degree - k);
    return sum;
}

// The device's photodiode; null (error 52 stored) when its serial names none we know.
const zv::Photodiode *photodiode_of(const zv_device &dev) {
    const zv::Photodiode *p =
        zv::find_photodiode(zv::serial_char(dev, zv::model::kPhotodiodePosition));
    if (p == nullptr) zv::set_error(zv::Error::settings_not_configured);
    return p;
}

} // namespace

extern "C" {

double zv_get_rel_responsivity(zv_device *dev, double wavelength) {
    constexpr double kFailure = std::numeric_limits<double>::infinity();
    if (dev == nullptr) {
        zv::set_error(zv::Error::invalid_device);
        return kFailure;
    }
    const zv::Photodiode *photodiode = photodiode_of(*dev);
    if (photodiode == nullptr) return kFailure;
    if (wavelength == photodiode->peak_nm) return 1.0;
    // Outside every sub-range (outside the curve, or not a number): no response.
    for (size_t i = 0; i < photodiode->segment_count; ++i) {
        const zv::ResponsivitySegment &segment = photodiode->segments[i];
        if (wavelength >= segment.from_nm && wavelength < segment.to_nm)
            return evaluate(segment, wavelength);
    }
    return 0.0;
}

int zv_get_peak_responsivity(zv_device *dev) {
    if (dev == nullptr) {
        zv::set_error(zv::Error::invalid_device);
        return ZV_QUERY_FAILED;
    }
    const zv::Photodiode *photodiode = photodiode_of(*dev);
    return photodiode ? photodiode->peak_nm : ZV_QUERY_FAILED;
}

} // extern "C"
