// The continuous acquisition a detector record streams to, as the rest of the library sees it:
// one-shot collections and resets are refused while it runs, and setting changes are noted in its
// samples.
#pragma once

#include "libzv/device_record.h"

namespace zv {

// True while a continuous acquisition streams from the detector.
bool device_streaming(zv_device &dev);

// Notes a setting change in the samples of the detector's running stream, if any.
void note_setting(zv_device *dev, const char *name, double value);

// Registers acq as the detector's stream; false with the error stored (and nothing changed) when
// a stream is registered or a one-shot collection runs.
bool claim_device_stream(zv_device &dev, ContinuousAcquisition *acq);
// Marks a one-shot collection on the detector; false with the error stored when a stream or
// another collection has the stream endpoint. end_collection ends the mark.
bool begin_collection(zv_device &dev);
void end_collection(zv_device &dev);
// Unregisters acq if it is the detector's stream.
void release_device_stream(zv_device &dev, ContinuousAcquisition *acq);

// The detector record is about to be freed: a stream still running on it is stopped and forgets
// the record.
void stop_device_stream(zv_device &dev);

} // namespace zv
