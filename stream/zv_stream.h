// Processed sample streams of a device (C++ interface): calibration to optical power, low-pass
// filtering, downsampling and decimation into float or double arrays.
#pragma once

#include "libzv/libzv.h"
#include "stream/generic_stream.h"
#include "stream/stream_supply.h"
#include "stream/typed_stream.h"

// zv_open_stream_float and zv_open_stream_double (declared in libzv.h with C linkage) create a
// stream bound to a device (borrowed: it must stay open while the stream is used). A null device
// fails with 50 "invalid device", an allocation failure with 49; both return null. The caller owns
// the result and releases it with delete (or zv_stream_float_close / zv_stream_double_close).
