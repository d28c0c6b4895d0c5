// Which stored calibration pair (identity pairs 0-5) each calibration type selects, per model.
#pragma once

#include <cstdint>

#include "libzv.h"

namespace zv {

// Entries other than a pair number.
constexpr int8_t kUnsupportedType = -1;
constexpr int8_t kPairByGainMode = -2; // the high-gain feature chooses between two pairs

struct CalibrationSelection {
    int8_t single_ended;
    int8_t balanced;
};

// Indexed by ZV_CALIBRATION_TYPE_t.
constexpr CalibrationSelection kCalibrationSelections[] = {
    {0, kUnsupportedType}, // digital high gain
    {1, kUnsupportedType}, // digital low gain
    {2, kUnsupportedType}, // analog high gain
    {3, kUnsupportedType}, // analog low gain
    {kPairByGainMode, 0},  // automatic
    {kUnsupportedType, 0}, // balanced digital
    {kUnsupportedType, 2}, // balanced analog
    {kUnsupportedType, 1}, // photodiode 1 digital
    {kUnsupportedType, 3}, // photodiode 1 analog
    {kUnsupportedType, 4}, // photodiode 2 digital
    {kUnsupportedType, 5}, // photodiode 2 analog
};
constexpr unsigned kCalibrationTypeCount =
    sizeof(kCalibrationSelections) / sizeof(kCalibrationSelections[0]);
static_assert(kCalibrationTypeCount == ZV_CALIBRATION_P2_ANALOG + 1, "one row per type");

// The automatic type on a single-ended unit.
constexpr int kHighGainPair = 0;
constexpr int kLowGainPair = 1;

} // namespace zv
