// The detector's on/off features, numbered as the feature requests address them. They are state
// only: the simulated sample stream does not depend on them.
#pragma once

#include <array>
#include <cstdint>

namespace zvsim {

constexpr uint8_t kFeatureCount = 4;
// Names in feature-number order: high gain, anti-aliasing filter, power-down, ADC clock.
constexpr const char *kFeatureNames[kFeatureCount] = {"highgain", "antialias", "powerdown",
                                                      "adcclock"};
using FeatureStates = std::array<uint8_t, kFeatureCount>;
// After power-up or reset: low gain, filter off, powered up, ADC clock running.
constexpr FeatureStates kFeatureDefaults = {0, 0, 0, 1};
// Answer to a read of a feature the device does not have (negative as a signed byte).
constexpr uint8_t kFeatureUnsupported = 0x80;

} // namespace zvsim
