// Vendor request codes the detector firmware answers.
#pragma once

#include <cstdint>

namespace zvsim::vendor_request {

constexpr uint8_t kReset = 0x21;       // out: reset the device state
constexpr uint8_t kIdentity = 0x30;    // in: the 72-byte identity block
constexpr uint8_t kAdcWrite = 0xC0;    // out: wValue data to ADC register wIndex
constexpr uint8_t kAdcRead = 0xC2;     // in: 1 byte, ADC register wIndex
constexpr uint8_t kPort = 0xC8;        // out: command record for port wValue; in: its record
constexpr uint8_t kPortRead = 0xC9;    // in: 1 byte, level of port wValue
constexpr uint8_t kFeatureSet = 0xCC;  // out: feature wIndex on (wValue 1) or off (0)
constexpr uint8_t kFeatureRead = 0xCD; // in: 1 byte, state of feature wIndex

} // namespace zvsim::vendor_request
