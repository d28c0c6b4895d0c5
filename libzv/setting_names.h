// The names under which a running stream reports setting changes (zv_setting_change), kept once.
#pragma once

#include "libzv.h"

namespace zv::change {

// Indexed by ZV_FEATURE_t.
constexpr const char *kFeatures[] = {"highgain", "antialias", "powerdown", "adcclock"};
// Indexed by ZV_PORT_t; a port's change is "port_<name>_<what>".
constexpr const char *kPorts[] = {"A", "B", "S", "T", "LEDR", "LEDG", "LEDB"};
constexpr const char *kPortDrive = "drive";
constexpr const char *kPortPwmThreshold = "pwm_threshold";
constexpr const char *kPortPwmPeriod = "pwm_period";
constexpr const char *kPortPulse = "pulse";

// The test pattern in effect, with these values; a user pattern's word as its own change.
constexpr const char *kTestPattern = "test_pattern";
constexpr double kPatternNormal = 0, kPatternCheckerboard = 1, kPatternPn9 = 2, kPatternUser = 3;
constexpr const char *kTestPatternUser = "test_pattern_user";
// An ADC register write, valued register * 256 + data.
constexpr const char *kAdcRegister = "adc_register";
// A vendor request sent through zv_out_request, valued by its request code.
constexpr const char *kVendorRequest = "vendor_request";

// Processed streams.
constexpr const char *kCutoff = "cutoff";
constexpr const char *kCalibrationGain = "calibration_gain";
constexpr const char *kCalibrationOffset = "calibration_offset";
constexpr const char *kCalibrationWavelength = "calibration_wavelength";
constexpr const char *kCalibrationUnits = "calibration_units";

} // namespace zv::change
