// Stored calibrations by type, and their rescaling to another wavelength.
#include <cmath>

#include "c_boundary.h"
#include "calibration_tables.h"
#include "device_record.h"
#include "errors.h"
#include "identity.h"

namespace {

constexpr zv_calibration kFailed = {0.0, 0.0};
// Reported for a pair that was never programmed (stored as two zeros).
constexpr zv_calibration kIdentity = {1.0, 0.0};

bool failed(const zv_calibration &c) {
    return c.gain == 0.0 && c.offset == 0.0;
}

// The pair number a type selects on this device, kUnsupportedType, or kGainModeUnreadable when the
// automatic type could not read the gain mode.
constexpr int kGainModeUnreadable = -3;

int select_pair(zv_device *dev, ZV_CALIBRATION_TYPE_t type) {
    if (unsigned(type) >= zv::kCalibrationTypeCount) return zv::kUnsupportedType;
    const zv::CalibrationSelection &row = zv::kCalibrationSelections[unsigned(type)];
    int pair = zv::is_balanced(*dev) ? row.balanced : row.single_ended;
    if (pair != zv::kPairByGainMode) return pair;
    int highgain = zv_read_feature(dev, ZV_FEATURE_HIGHGAIN);
    if (highgain < 0) return kGainModeUnreadable;
    return highgain > 0 ? zv::kHighGainPair : zv::kLowGainPair;
}

} // namespace

extern "C" {

zv_calibration zv_get_calibration(zv_device *dev, ZV_CALIBRATION_TYPE_t type) {
    return zv::c_value(kFailed, [&] {
        zv::set_error(zv::Error::success);
        if (dev == nullptr) {
            zv::set_error(zv::Error::invalid_device);
            return kFailed;
        }
        int pair = select_pair(dev, type);
        if (pair == kGainModeUnreadable) {
            zv::set_error(zv::Error::gain_mode_unreadable);
            return kFailed;
        }
        if (pair < 0) {
            zv::set_error(zv::Error::unsupported_calibration_type);
            return kFailed;
        }
        zv_calibration cal = {dev->identity.calibration[pair][0],
                              dev->identity.calibration[pair][1]};
        // "auto" is the pair calibrated data is computed with (get_calibrated_data, a stream's
        // mode "auto"): one that is not a number is refused there, not turned into NaN data. The
        // named types read back what is stored, whatever it is.
        if (type == ZV_CALIBRATION_DIGITAL_AUTO &&
            !(std::isfinite(cal.gain) && std::isfinite(cal.offset))) {
            zv::set_error(zv::Error::calibration_not_finite);
            return kFailed;
        }
        return failed(cal) ? kIdentity : cal;
    });
}

zv_calibration zv_get_rel_calibration(zv_device *dev, ZV_CALIBRATION_TYPE_t type,
                                      double wavelength) {
    return zv::c_value(kFailed, [&] {
        zv_calibration cal = zv_get_calibration(dev, type);
        if (failed(cal)) return cal;
        // +infinity (unknown photodiode, error stored) scales the pair to zeros: a failure.
        double r = zv_get_rel_responsivity(dev, wavelength);
        if (r == 0.0) {
            zv::set_error(zv::Error::wavelength_out_of_range);
            return kFailed;
        }
        // The responsivity is applied at single precision, as the stored pairs are.
        r = double(float(r));
        return zv_calibration{cal.gain / r, cal.offset / r};
    });
}

} // extern "C"
