// The isochronous acquisition engine: keeps sixteen transfers of sixteen packets in flight on the
// detector's streaming endpoint (0x83, alternate setting 1), discards the first four completed
// transfers, hands every good packet to a sample sink and recognises the data-loss marker, until
// the sink says stop, the run's control ends it or the USB fails. The engine makes no copy of the
// samples: the sink gets pointers into the transfer buffers.
#pragma once

#include "errors.h"
#include "libzv.h"
#include "usb/cy_device.h"

namespace zv {

// Asked between transfers and while the engine waits (at least every kInterruptPollMs) whether
// the run must end before its sink says so.
class RunControl {
  public:
    virtual ~RunControl() = default;
    // True to end the run now; `reason` is then stored as the run's error, unless it is
    // Error::success (a requested stop, which is no failure).
    virtual bool should_end(Error &reason) = 0;
};

// Ends a run on the caller's thread when the program's interrupt check asks it to (Ctrl-C).
class InterruptControl final : public RunControl {
  public:
    bool should_end(Error &reason) override;
};

// Runs one collection on an open detector. Returns 0 or the error code it stored; a sink that
// stops the run is not a failure.
int collect(zvusb::CCyDriverDevice &usb, zv_sample_sink sink, void *user, RunControl &control);

// One collection on the calling thread, ended early by the program's interrupt check; the busy
// check against a running continuous stream is the caller's.
int collect_interruptible(zv_device *dev, zv_sample_sink sink, void *user);

} // namespace zv
