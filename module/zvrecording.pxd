# Declarations of libzv's recording interface (the reader and repair of libzv/libzv.h) for zvpy.
from libc.stdint cimport int32_t, uint16_t, uint32_t, uint64_t
from libcpp cimport bool as cbool
from libzv cimport zv_gap, zv_setting_change

cdef extern from "libzv/libzv.h" nogil:
    enum:
        ZV_RECORDING_RAW
        ZV_RECORDING_FLOAT32
        ZV_RECORDING_CLOSED
        ZV_RECORDING_WRITING
        ZV_RECORDING_UNCLOSED
        ZV_ERROR_FILE_EXISTS

    ctypedef struct zv_recording:
        pass

    ctypedef struct zv_recording_attribute:
        const char *name
        const char *text
        const double *values
        uint32_t rows
        uint32_t columns
        cbool integer

    zv_recording *zv_recording_open(const char *path)
    void zv_recording_close(zv_recording *rec)
    int zv_recording_refresh(zv_recording *rec)
    uint64_t zv_recording_length(zv_recording *rec)
    int zv_recording_kind(zv_recording *rec)
    int zv_recording_state(zv_recording *rec)
    int zv_recording_attribute_count(zv_recording *rec)
    int zv_recording_get_attribute(zv_recording *rec, int i, zv_recording_attribute *attribute)
    uint64_t zv_recording_gap_count(zv_recording *rec)
    int zv_recording_get_gaps(zv_recording *rec, uint64_t first, uint64_t count, zv_gap *gaps)
    uint64_t zv_recording_change_count(zv_recording *rec)
    int zv_recording_get_changes(zv_recording *rec, uint64_t first, uint64_t count,
                                 zv_setting_change *changes)
    int zv_recording_read_raw(zv_recording *rec, uint64_t start, uint64_t count, uint16_t *out)
    int zv_recording_read_float(zv_recording *rec, uint64_t start, uint64_t count, float *out)
    int zv_recording_read_power(zv_recording *rec, uint64_t start, uint64_t count,
                                int32_t units, float *out)
    const char *zv_loss_kind_name(int32_t kind)
    int zv_power_unit_exponent(const char *name, int32_t *exponent)
    int zv_recording_repair(const char *path)


# The recorder: a continuous stream written to a recording on a library thread.
from libzv cimport zv_raw_stream
from zvstream cimport ZVStream

cdef extern from "libzv/libzv.h" nogil:
    ctypedef struct zv_recorder:
        pass

    ctypedef struct zv_recorder_options:
        uint64_t nsamples
        double seconds
        double buffer_seconds
        cbool overwrite

    zv_recorder *zv_recorder_start_raw(zv_raw_stream *stream, const char *path,
                                       const zv_recorder_options *options)
    zv_recorder *zv_recorder_start_float(ZVStream[float] *stream, const char *path,
                                         const zv_recorder_options *options)
    zv_recorder *zv_recorder_start_double(ZVStream[double] *stream, const char *path,
                                          const zv_recorder_options *options)
    int zv_recorder_wait(zv_recorder *recorder, int32_t timeout_ms)
    int zv_recorder_stop(zv_recorder *recorder)
    cbool zv_recorder_running(zv_recorder *recorder)
    uint64_t zv_recorder_samples(zv_recorder *recorder)
    uint64_t zv_recorder_lost(zv_recorder *recorder)
    void zv_recorder_close(zv_recorder *recorder)
