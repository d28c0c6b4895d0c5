// The processed streams' C interface (libzv.h): creation, and the continuous functions, which
// forward to the C++ stream (zv_stream.h) at the C boundary.
#include "libzv/c_boundary.h"
#include "libzv/errors.h"
#include "stream/stream_impl.h"

namespace {

template <typename T> ZVStream<T> *open_stream(zv_device *device) {
    return zv::c_value(static_cast<ZVStream<T> *>(nullptr), [&]() -> ZVStream<T> * {
        if (!device) {
            zv::set_error(zv::Error::invalid_device);
            return nullptr;
        }
        return new ZVStreamImpl<T>(device);
    });
}

template <typename T> int start(ZVStream<T> *stream, double buffer_seconds) {
    if (stream == nullptr) return zv::set_error(zv::Error::invalid_parameters);
    return zv::c_status([&] { return stream->start(buffer_seconds); });
}

template <typename T>
int read(ZVStream<T> *stream, T *samples, uint8_t *flags, uint64_t nsamples, int32_t timeout_ms,
         zv_block *block) {
    if (stream == nullptr) return zv::set_error(zv::Error::invalid_parameters);
    return zv::c_status([&] { return stream->read(nsamples, samples, flags, timeout_ms, block); });
}

template <typename T> int stop(ZVStream<T> *stream) {
    if (stream == nullptr) return zv::set_error(zv::Error::invalid_parameters);
    return zv::c_status([&] { return stream->stop(); });
}

template <typename T> void close(ZVStream<T> *stream) {
    zv::c_void([&] { delete stream; });
}

template <typename T> bool running(ZVStream<T> *stream) {
    return zv::c_value(false, [&] { return stream != nullptr && stream->running(); });
}

template <typename T> uint64_t lost_total(ZVStream<T> *stream) {
    return zv::c_value(uint64_t(0),
                       [&] { return stream != nullptr ? stream->lost_total() : uint64_t(0); });
}

} // namespace

extern "C" {

zv_stream_float *zv_open_stream_float(zv_device *device) {
    return open_stream<float>(device);
}
zv_stream_double *zv_open_stream_double(zv_device *device) {
    return open_stream<double>(device);
}

void zv_stream_float_close(zv_stream_float *stream) {
    close(stream);
}
void zv_stream_double_close(zv_stream_double *stream) {
    close(stream);
}

int zv_stream_float_start(zv_stream_float *stream, double buffer_seconds) {
    return start(stream, buffer_seconds);
}
int zv_stream_double_start(zv_stream_double *stream, double buffer_seconds) {
    return start(stream, buffer_seconds);
}

int zv_stream_float_read(zv_stream_float *stream, float *samples, uint8_t *flags, uint64_t nsamples,
                         int32_t timeout_ms, zv_block *block) {
    return read(stream, samples, flags, nsamples, timeout_ms, block);
}
int zv_stream_double_read(zv_stream_double *stream, double *samples, uint8_t *flags,
                          uint64_t nsamples, int32_t timeout_ms, zv_block *block) {
    return read(stream, samples, flags, nsamples, timeout_ms, block);
}

int zv_stream_float_stop(zv_stream_float *stream) {
    return stop(stream);
}
int zv_stream_double_stop(zv_stream_double *stream) {
    return stop(stream);
}

bool zv_stream_float_running(zv_stream_float *stream) {
    return running(stream);
}
bool zv_stream_double_running(zv_stream_double *stream) {
    return running(stream);
}

uint64_t zv_stream_float_lost_total(zv_stream_float *stream) {
    return lost_total(stream);
}
uint64_t zv_stream_double_lost_total(zv_stream_double *stream) {
    return lost_total(stream);
}

} // extern "C"
