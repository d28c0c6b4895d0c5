// The isochronous acquisition engine: keeps sixteen transfers of sixteen packets in flight on the
// detector's streaming endpoint (0x83, alternate setting 1), discards the first four completed
// transfers, hands every good packet to a sample sink and recognises the data-loss marker, until
// the sink says stop or the USB fails. The engine makes no copy of the samples: the sink gets
// pointers into the transfer buffers.
#pragma once

#include "libzv.h"
#include "usb/cy_device.h"

namespace zv {

// Runs one collection on an open detector. Returns 0 or the error code it stored; a sink that
// stops the run is not a failure.
int collect(zvusb::CCyDriverDevice &usb, zv_sample_sink sink, void *user);

} // namespace zv
