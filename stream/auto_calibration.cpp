#include "stream/auto_calibration.h"

#include <cmath>

namespace {

// The device's calibrations give microwatts.
constexpr double kDeviceUnitsExponent = -6.0;

} // namespace

template <typename T>
int read_auto_calibration(zv_device *device, double wavelength, int32_t units, T &scale,
                          T &offset) {
    if (!device) {
        scale = 1;
        offset = 0;
        return 0;
    }
    const zv_calibration pair =
        zv_get_rel_calibration(device, ZV_CALIBRATION_DIGITAL_AUTO, wavelength);
    // (0, 0) is how the library reports that it has no calibration (an unprogrammed pair reads
    // (1, 0)); using it would turn every sample into 0.
    if (pair.gain == 0.0 && pair.offset == 0.0 && zv_get_error() != 0) return zv_get_error();
    scale_calibration(pair, units, scale, offset);
    return 0;
}

template <typename T>
void scale_calibration(zv_calibration pair, int32_t units, T &scale, T &offset) {
    // The exponent is formed in double: no integer overflow for any units value.
    const T unit =
        static_cast<T>(std::pow(10.0, kDeviceUnitsExponent - static_cast<double>(units)));
    scale = static_cast<T>(pair.gain * unit);
    offset = static_cast<T>(pair.offset * unit);
}

template void scale_calibration<float>(zv_calibration, int32_t, float &, float &);
template void scale_calibration<double>(zv_calibration, int32_t, double &, double &);
template int read_auto_calibration<float>(zv_device *, double, int32_t, float &, float &);
template int read_auto_calibration<double>(zv_device *, double, int32_t, double &, double &);
