// The firmware model's configuration for one of the test's detectors.
#pragma once

#include "e2e/detectors.h"
#include "sim/firmware/detector_config.h"

namespace zve2e {

zvsim::DetectorConfig firmware_config(const Detector &detector, uint32_t samplerate);

} // namespace zve2e
