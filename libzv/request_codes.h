// The vendor control requests the library (and the Python module's developer class) issues, and
// their fixed time-out.
#pragma once

#include <cstdint>

namespace zv {
namespace request {

constexpr uint8_t kReset = 0x21;            // out, no data
constexpr uint8_t kReadIdentity = 0x30;     // in, the 72-byte identity block
constexpr uint8_t kWriteAdcRegister = 0xC0; // out, wValue = data, wIndex = register
constexpr uint8_t kReadAdcRegister = 0xC2;  // in, wIndex = register: its value, one byte
constexpr uint8_t kPortCommand = 0xC8;      // out: a port command record; in: the port's record
constexpr uint8_t kPortLevel = 0xC9;        // in, one signed byte: level, negative = error
constexpr uint8_t kSetFeature = 0xCC;       // out, wValue = on, wIndex = feature
constexpr uint8_t kReadFeature = 0xCD;      // in, one signed byte: state, negative = invalid

} // namespace request

// Time-out of every request the library issues on its own behalf.
constexpr uint32_t kRequestTimeoutMs = 1000;

} // namespace zv
