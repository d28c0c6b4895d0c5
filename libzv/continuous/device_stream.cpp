#include "device_stream.h"

#include "continuous_acquisition.h"

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
    if (dev.stream != nullptr) return false;
    dev.stream = acq;
    return true;
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
