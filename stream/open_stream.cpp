// Creation of streams bound to an opened device.
#include "libzv/c_boundary.h"
#include "libzv/errors.h"
#include "stream/stream_impl.h"

namespace {

// An allocation failure becomes 49 at the C boundary.
template <typename T> ZVStream<T> *open_stream(zv_device *device) {
    return zv::c_value(static_cast<ZVStream<T> *>(nullptr), [&]() -> ZVStream<T> * {
        if (!device) {
            zv::set_error(zv::Error::invalid_device);
            return nullptr;
        }
        return new ZVStreamImpl<T>(device);
    });
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
