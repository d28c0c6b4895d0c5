// Vendor control requests on endpoint 0, for the library's own settings functions. The public
// zv_out_request also notes the request in a running stream's samples; the settings functions
// note their change by name instead, so they use these.
#pragma once

#include <cstdint>

#include "libzv.h"

namespace zv {

int vendor_out(zv_device *dev, uint8_t request, uint16_t value, uint16_t index, const uint8_t *data,
               uint16_t length, uint32_t timeout);
int vendor_in(zv_device *dev, uint8_t request, uint16_t value, uint16_t index, uint8_t *data,
              uint16_t length, uint32_t timeout);

} // namespace zv
