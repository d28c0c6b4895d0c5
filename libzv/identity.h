// Reading a detector's identity at open, composing its product name, and the model facts other
// parts of the library take from the identity.
#pragma once

#include <cstdint>

#include "device_record.h"

namespace zv {

// Fills the record's identity block, serial copy and product name. With `read_from_device`
// false (the unprogrammed detector) the block is zeros and the serial "unknown". False, with the
// error state set, when the identity read fails.
bool load_identity(zv_device &dev, bool read_from_device);

// The record's summary for listings and serial matching.
zv_device_info summarize(const zv_device &dev);

// Character `position` of the serial text; 0 past its end.
char serial_char(const zv_device &dev, int position);

bool is_balanced(const zv_device &dev);

// The identity's sample rate, or 0 when it leaves the rate unset (ZV_SAMPLERATE_NOT_SET) or
// zero: nothing can be timed or filtered without one.
uint32_t known_samplerate(const zv_device &dev);

// The firmware version as one comparable number: major*65536 + minor*256 + patch.
uint32_t firmware_number(const zv_device &dev);

} // namespace zv
