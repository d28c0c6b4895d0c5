// The device's own calibration for a stream: the automatic stored pair (following the gain
// setting), corrected to a wavelength by the photodiode's responsivity and scaled to the
// stream's output unit.
#pragma once

#include <cstdint>

#include "libzv/libzv.h"

// Reads the pair and stores scale and offset in T (for float, the unit factor and both results
// are rounded to single precision). Returns 0, or the library's error when it could not give a
// calibration (scale and offset then stay as they were). Without a device there is no stored
// calibration: the raw codes pass unchanged (scale 1, offset 0).
template <typename T>
int read_auto_calibration(zv_device *device, double wavelength, int32_t units, T &scale, T &offset);

// Scales a pair in microwatts to the unit W x 10^units and stores it in T, rounded as the stream
// rounds it (for float: the unit factor and both results to single precision).
template <typename T>
void scale_calibration(zv_calibration pair, int32_t units, T &scale, T &offset);

extern template void scale_calibration<float>(zv_calibration, int32_t, float &, float &);
extern template void scale_calibration<double>(zv_calibration, int32_t, double &, double &);
extern template int read_auto_calibration<float>(zv_device *, double, int32_t, float &, float &);
extern template int read_auto_calibration<double>(zv_device *, double, int32_t, double &, double &);
