// The names of a stream's calibration modes.
#pragma once

// The device's stored calibration at the stream's wavelength, in the stream's units.
constexpr const char *kCalibrationAuto = "auto";
// Raw ADC codes: scale 1, offset 0.
constexpr const char *kCalibrationNone = "none";
// The scale and offset last given to set_custom_calibration.
constexpr const char *kCalibrationCustom = "custom";
