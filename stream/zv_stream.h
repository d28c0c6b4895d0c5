// Processed sample streams of a device (C++ interface): calibration to optical power, low-pass
// filtering, downsampling and decimation into float or double arrays.
#pragma once

#include "libzv/libzv.h"
#include "stream/generic_stream.h"
#include "stream/stream_supply.h"
#include "stream/typed_stream.h"

// Create a stream bound to device (borrowed: it must stay open while the stream is used). A null
// device fails with 50 "invalid device", an allocation failure with 49; both return null. The
// caller owns the result and releases it with delete.
ZV_API ZVStream<float> *zv_open_stream_float(zv_device *device);
ZV_API ZVStream<double> *zv_open_stream_double(zv_device *device);
