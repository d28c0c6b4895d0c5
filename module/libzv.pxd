# Declarations of the public libzv C interface (libzv/libzv.h) for the Cython modules.
from libc.stdint cimport int32_t, uint8_t, uint16_t, uint32_t, uint64_t
from libcpp cimport bool as cbool

cdef extern from "libzv/libzv.h" nogil:
    int ZV_VERSION_MAJOR
    int ZV_VERSION_MINOR
    int ZV_VERSION_PATCH

    ctypedef struct zv_device:
        pass

    ctypedef enum ZV_FEATURE_t:
        ZV_FEATURE_HIGHGAIN
        ZV_FEATURE_ANTIALIAS
        ZV_FEATURE_POWERDOWN
        ZV_FEATURE_ADCCLOCK

    ctypedef enum ZV_PORT_t:
        ZV_PORT_A
        ZV_PORT_B
        ZV_PORT_S
        ZV_PORT_T
        ZV_LEDR
        ZV_LEDG
        ZV_LEDB

    ctypedef enum ZV_TRIGGER_MODE_t:
        ZV_TRIGGER_NONE
        ZV_TRIGGER_S_UP
        ZV_TRIGGER_S_DOWN
        ZV_TRIGGER_S_HIGH
        ZV_TRIGGER_S_LOW
        ZV_TRIGGER_T_UP
        ZV_TRIGGER_T_DOWN
        ZV_TRIGGER_T_HIGH
        ZV_TRIGGER_T_LOW

    ctypedef enum ZV_CALIBRATION_TYPE_t:
        ZV_CALIBRATION_DIGITAL_HIGHGAIN
        ZV_CALIBRATION_DIGITAL_LOWGAIN
        ZV_CALIBRATION_ANALOG_HIGHGAIN
        ZV_CALIBRATION_ANALOG_LOWGAIN
        ZV_CALIBRATION_DIGITAL_AUTO
        ZV_CALIBRATION_BALANCED_DIGITAL
        ZV_CALIBRATION_BALANCED_ANALOG
        ZV_CALIBRATION_P1_DIGITAL
        ZV_CALIBRATION_P1_ANALOG
        ZV_CALIBRATION_P2_DIGITAL
        ZV_CALIBRATION_P2_ANALOG

    # The raw sample word: bits 0-13 the ADC code, bits 14 and 15 the levels of ports S and T.
    int ZV_SAMPLE_CODE_MASK

    # What a query returns when it has nothing to give (libzv.h).
    uint32_t ZV_SAMPLERATE_NOT_SET
    uint8_t ZV_ADCBITS_NOT_SET
    uint8_t ZV_FWVERSION_NOT_SET
    int ZV_QUERY_FAILED

    ctypedef struct zv_identity:
        uint8_t reserved
        uint8_t fw_major
        uint8_t fw_minor
        uint8_t fw_patch
        char serial[15]
        uint8_t adcbits
        uint32_t samplerate
        float calibration[6][2]

    ctypedef struct zv_fwversion:
        uint8_t major
        uint8_t minor
        uint8_t patch

    ctypedef struct zv_device_info:
        char product[32]
        char serial[16]
        uint32_t samplerate
        uint8_t adcbits
        uint8_t fw_major
        uint8_t fw_minor
        uint8_t fw_patch

    ctypedef struct zv_calibration:
        double gain
        double offset

    ctypedef int (*zv_sample_sink)(const uint16_t *samples, int count, int data_lost, void *user)

    int zv_get_error()
    const char *zv_get_error_string()
    void zv_get_version(int *major, int *minor, int *patch)
    const char *zv_get_libusb_version()

    zv_device *zv_open()
    zv_device *zv_open_serial(const char *serial)
    void zv_close(zv_device *dev)
    int zv_list_devices(zv_device_info *infos, int max)
    int zv_list_devices_with_speed(zv_device_info *infos, int *usb_speeds, int max)
    const char *zv_get_serial(zv_device *dev)
    const char *zv_get_product(zv_device *dev)
    uint32_t zv_get_samplerate(zv_device *dev)
    uint8_t zv_get_adcbits(zv_device *dev)
    zv_fwversion zv_get_fwversion(zv_device *dev)
    int zv_get_usb_speed(zv_device *dev)

    int zv_out_request(zv_device *dev, uint8_t request, uint16_t value, uint16_t index,
                       const uint8_t *data, uint16_t length, uint32_t timeout)
    int zv_in_request(zv_device *dev, uint8_t request, uint16_t value, uint16_t index,
                      uint8_t *data, uint16_t length, uint32_t timeout)

    int zv_set_highgain(zv_device *dev, cbool on)
    int zv_set_antialias(zv_device *dev, cbool on)
    int zv_set_powerdown(zv_device *dev, cbool on)
    int zv_set_adcclock(zv_device *dev, cbool on)
    int zv_read_feature(zv_device *dev, ZV_FEATURE_t feature)
    int zv_write_adc_register(zv_device *dev, uint8_t reg, uint8_t data)
    void zv_test_normal(zv_device *dev)
    void zv_test_checkerboard(zv_device *dev)
    void zv_test_pn9(zv_device *dev)
    int zv_test_user(zv_device *dev, uint16_t pattern)
    int zv_port_drive(zv_device *dev, ZV_PORT_t port, uint8_t level)
    int zv_port_pwm(zv_device *dev, ZV_PORT_t port, uint32_t threshold, uint32_t period)
    int zv_port_pulse(zv_device *dev, ZV_PORT_t port, uint32_t threshold)
    int zv_port_read(zv_device *dev, ZV_PORT_t port)
    int zv_port_status(zv_device *dev, ZV_PORT_t port, uint8_t *record)
    int zv_reset(zv_device *dev)

    zv_calibration zv_get_calibration(zv_device *dev, ZV_CALIBRATION_TYPE_t type)
    zv_calibration zv_get_rel_calibration(zv_device *dev, ZV_CALIBRATION_TYPE_t type,
                                          double wavelength)
    double zv_get_rel_responsivity(zv_device *dev, double wavelength)
    int zv_get_peak_responsivity(zv_device *dev)

    int zv_collect(zv_device *dev, zv_sample_sink sink, void *user)
    int zv_get_raw_data(zv_device *dev, uint16_t *buffer, uint64_t nsamples)
    int zv_get_raw_data_triggered(zv_device *dev, uint16_t *buffer, uint64_t nsamples,
                                  ZV_TRIGGER_MODE_t mode)
    int zv_get_raw_data_per_trigger(zv_device *dev, uint16_t *buffer, uint64_t nsamples,
                                    ZV_TRIGGER_MODE_t mode, uint64_t samples_per_trigger)
    int zv_get_raw_data_triggered_timeout(zv_device *dev, uint16_t *buffer, uint64_t nsamples,
                                          ZV_TRIGGER_MODE_t mode, int32_t timeout_ms)
    int zv_get_raw_data_per_trigger_timeout(zv_device *dev, uint16_t *buffer, uint64_t nsamples,
                                            ZV_TRIGGER_MODE_t mode, uint64_t samples_per_trigger,
                                            int32_t timeout_ms)

    ctypedef int (*zv_interrupt_check)(void *user)
    void zv_set_interrupt_check(zv_interrupt_check check, void *user)

    enum:
        ZV_ERROR_INTERRUPTED
        ZV_ERROR_TIMEOUT
        ZV_ERROR_DEVICE_OPEN
        ZV_ERROR_STREAM_STATE
        ZV_LOSS_DEVICE
        ZV_LOSS_OVERFLOW

    ctypedef struct zv_gap:
        uint64_t index
        uint64_t lost
        int32_t kind

    ctypedef struct zv_setting_change:
        uint64_t index
        char name[24]
        double value

    ctypedef struct zv_block:
        uint64_t index
        uint64_t count
        uint64_t lost
        double time
        zv_gap *gaps
        uint32_t ngaps
        zv_setting_change *changes
        uint32_t nchanges

    ctypedef struct zv_raw_stream:
        pass
    zv_raw_stream *zv_raw_stream_open(zv_device *dev, cbool mask)
    int zv_raw_stream_start(zv_raw_stream *stream, double buffer_seconds)
    int zv_raw_stream_read(zv_raw_stream *stream, uint16_t *samples, uint8_t *flags,
                           uint64_t nsamples, int32_t timeout_ms, zv_block *block)
    int zv_raw_stream_stop(zv_raw_stream *stream)
    cbool zv_raw_stream_running(zv_raw_stream *stream)
    uint64_t zv_raw_stream_lost_total(zv_raw_stream *stream)
    void zv_raw_stream_close(zv_raw_stream *stream)

    int zv_envelope_uint16(const uint16_t *samples, uint64_t n, uint64_t columns,
                           uint16_t *mins, uint16_t *maxs)
    int zv_envelope_float(const float *samples, uint64_t n, uint64_t columns, float *mins,
                          float *maxs)
    int zv_envelope_double(const double *samples, uint64_t n, uint64_t columns, double *mins,
                           double *maxs)
