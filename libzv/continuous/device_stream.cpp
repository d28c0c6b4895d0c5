#include "device_stream.h"

#include "continuous_acquisition.h"
#include "libzv/errors.h"

namespace zv {

bool device_streaming(zv_device &dev) {
    std::lock_guard<std::mutex> lock(dev.stream_mutex);
    return dev.stream != nullptr;
}

void note_setting(zv_device *dev, const char *name, double value) {
    if (dev == nullptr) return;
    std::lock_guard<std::mutex> lock(dev->stream_mutex);
    if (dev->stream != nullptr) dev->stream->ring().add_change(name, value);
}

bool claim_device_stream(zv_device &dev, ContinuousAcquisition *acq) {
    std::lock_guard<std::mutex> lock(dev.stream_mutex);
    if (dev.stream != nullptr) return set_error(Error::stream_already_running), false;
    if (dev.collecting) return set_error(Error::device_collecting), false;
    dev.stream = acq;
    return true;
}

bool begin_collection(zv_device &dev) {
    std::lock_guard<std::mutex> lock(dev.stream_mutex);
    if (dev.stream != nullptr) return set_error(Error::device_streaming), false;
    if (dev.collecting) return set_error(Error::device_collecting), false;
    dev.collecting = true;
    return true;
}

void end_collection(zv_device &dev) {
    std::lock_guard<std::mutex> lock(dev.stream_mutex);
    dev.collecting = false;
}

void release_device_stream(zv_device &dev, ContinuousAcquisition *acq) {
    std::lock_guard<std::mutex> lock(dev.stream_mutex);
    if (dev.stream == acq) dev.stream = nullptr;
}

void stop_device_stream(zv_device &dev) {
    ContinuousAcquisition *acq;
    {
        std::lock_guard<std::mutex> lock(dev.stream_mutex);
        acq = dev.stream;
    }
    if (acq != nullptr) acq->detach_device();
}

} // namespace zv
