// The recorder's C interface (libzv.h, "Recording a continuous stream"): each function forwards
// to zv::recording::Recorder inside the guard of c_guard.h.
#include <memory>
#include <string>

#include "libzv/errors.h"
#include "recorder/c_guard.h"
#include "recorder/recorder.h"

struct zv_recorder {
    std::unique_ptr<zv::recording::Recorder> recorder;
};

namespace {

using zv::recording::guarded;
using zv::recording::missing;
using zv::recording::RecordedStream;

zv_recorder *start(std::unique_ptr<RecordedStream> stream, const char *path,
                   const zv_recorder_options *options) {
    if (!stream || missing(path)) return nullptr;
    zv::recording::RecorderOptions o;
    if (options != nullptr) {
        o.nsamples = options->nsamples;
        o.seconds = options->seconds;
        if (options->buffer_seconds != 0) o.buffer_seconds = options->buffer_seconds;
        o.overwrite = options->overwrite;
    }
    zv_recorder *made = nullptr;
    guarded([&] {
        auto recorder = zv::recording::Recorder::start(std::move(stream), path, o);
        if (!recorder) return zv_get_error();
        made = new zv_recorder{std::move(recorder)};
        return 0;
    });
    return made;
}

} // namespace

extern "C" {

zv_recorder *zv_recorder_start_raw(zv_raw_stream *stream, const char *path,
                                   const zv_recorder_options *options) {
    return zv::c_value(static_cast<zv_recorder *>(nullptr), [&] {
        return start(zv::recording::recorded_raw_stream(stream), path, options);
    });
}

zv_recorder *zv_recorder_start_float(zv_stream_float *stream, const char *path,
                                     const zv_recorder_options *options) {
    return zv::c_value(static_cast<zv_recorder *>(nullptr), [&] {
        return start(zv::recording::recorded_float_stream(stream), path, options);
    });
}

zv_recorder *zv_recorder_start_double(zv_stream_double *stream, const char *path,
                                      const zv_recorder_options *options) {
    return zv::c_value(static_cast<zv_recorder *>(nullptr), [&] {
        return start(zv::recording::recorded_double_stream(stream), path, options);
    });
}

int zv_recorder_wait(zv_recorder *recorder, int32_t timeout_ms) {
    if (missing(recorder)) return ZV_ERROR_INVALID_ARGUMENT;
    return guarded([&] { return recorder->recorder->wait(timeout_ms); });
}

int zv_recorder_stop(zv_recorder *recorder) {
    if (missing(recorder)) return ZV_ERROR_INVALID_ARGUMENT;
    return guarded([&] { return recorder->recorder->stop(); });
}

bool zv_recorder_running(zv_recorder *recorder) {
    return zv::c_value(false, [&] { return recorder != nullptr && recorder->recorder->running(); });
}

uint64_t zv_recorder_samples(zv_recorder *recorder) {
    return zv::c_value(uint64_t(0), [&] {
        return recorder != nullptr ? recorder->recorder->samples() : uint64_t(0);
    });
}

uint64_t zv_recorder_lost(zv_recorder *recorder) {
    return zv::c_value(uint64_t(0), [&] {
        return recorder != nullptr ? recorder->recorder->lost() : uint64_t(0);
    });
}

void zv_recorder_close(zv_recorder *recorder) {
    guarded([&] {
        delete recorder;
        return 0;
    });
}

} // extern "C"
