// Creation of streams bound to an opened device.
#include <new>

#include "libzv/errors.h"
#include "stream/stream_impl.h"

namespace {

template <typename T> ZVStream<T> *open_stream(zv_device *device) {
    if (!device) {
        zv::set_error(zv::Error::invalid_device);
        return nullptr;
    }
    try {
        return new ZVStreamImpl<T>(device);
    } catch (const std::bad_alloc &) {
        zv::set_error(zv::Error::out_of_memory);
        return nullptr;
    }
}

} // namespace

extern "C" {

zv_stream_float *zv_open_stream_float(zv_device *device) {
    return open_stream<float>(device);
}
zv_stream_double *zv_open_stream_double(zv_device *device) {
    return open_stream<double>(device);
}

} // extern "C"
