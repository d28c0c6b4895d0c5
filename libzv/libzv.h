/*
 * libzv: host library for the HLM25 USB photodetector.
 *
 * The one public, C-callable header. Every function reports failure by storing an error code and
 * a static message in a process-wide last-error state (zv_get_error, zv_get_error_string) and
 * returning a status (0 = success) or a value outside its normal range. Nothing is thrown across
 * this interface. The library is driven by one thread at a time.
 */
#ifndef LIBZV_H
#define LIBZV_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZV_VERSION_MAJOR 0
#define ZV_VERSION_MINOR 9
#define ZV_VERSION_PATCH 6

#if defined(__GNUC__)
#define ZV_API __attribute__((visibility("default")))
#else
#define ZV_API
#endif

/* Error codes stored in the last-error state (the messages live in libzv/errors.cpp). */
enum {
    ZV_SUCCESS = 0,
    ZV_ERROR_USB = 32,
    ZV_ERROR_INVALID_ARGUMENT = 48,
    ZV_ERROR_NO_MEMORY = 49,
    ZV_ERROR_INVALID_DEVICE = 50,
    ZV_ERROR_NOT_CONFIGURED = 52,
    ZV_ERROR_UNKNOWN_FILTER_MODE = 53,
    ZV_ERROR_FIRMWARE = 54,
    ZV_ERROR_GAIN_MODE = -1,
};

/* One opened detector; created by zv_open / zv_open_serial, released by zv_close. */
typedef struct zv_device zv_device;

typedef enum {
    ZV_FEATURE_HIGHGAIN = 0,  /* transimpedance amplifier in high-gain mode */
    ZV_FEATURE_ANTIALIAS = 1, /* anti-aliasing filter enabled */
    ZV_FEATURE_POWERDOWN = 2, /* analog circuitry powered down */
    ZV_FEATURE_ADCCLOCK = 3,  /* ADC clock enabled */
} ZV_FEATURE_t;

typedef enum {
    ZV_PORT_A = 0,
    ZV_PORT_B = 1,
    ZV_PORT_S = 2, /* level also carried in bit 14 of every raw sample */
    ZV_PORT_T = 3, /* level also carried in bit 15 of every raw sample */
    ZV_LEDR = 4,
    ZV_LEDG = 5,
    ZV_LEDB = 6,
} ZV_PORT_t;

typedef enum {
    ZV_TRIGGER_NONE = 0,
    ZV_TRIGGER_S_UP = 1,
    ZV_TRIGGER_S_DOWN = 2,
    ZV_TRIGGER_S_HIGH = 3,
    ZV_TRIGGER_S_LOW = 4,
    ZV_TRIGGER_T_UP = 5,
    ZV_TRIGGER_T_DOWN = 6,
    ZV_TRIGGER_T_HIGH = 7,
    ZV_TRIGGER_T_LOW = 8,
} ZV_TRIGGER_MODE_t;

typedef enum {
    ZV_CALIBRATION_DIGITAL_HIGHGAIN = 0,
    ZV_CALIBRATION_DIGITAL_LOWGAIN = 1,
    ZV_CALIBRATION_ANALOG_HIGHGAIN = 2,
    ZV_CALIBRATION_ANALOG_LOWGAIN = 3,
    ZV_CALIBRATION_DIGITAL_AUTO = 4,
    ZV_CALIBRATION_BALANCED_DIGITAL = 5,
    ZV_CALIBRATION_BALANCED_ANALOG = 6,
    ZV_CALIBRATION_P1_DIGITAL = 7,
    ZV_CALIBRATION_P1_ANALOG = 8,
    ZV_CALIBRATION_P2_DIGITAL = 9,
    ZV_CALIBRATION_P2_ANALOG = 10,
} ZV_CALIBRATION_TYPE_t;

#pragma pack(push, 1)
/* The 72-byte identity block as vendor request 0x30 returns it (little-endian fields). */
typedef struct {
    uint8_t reserved;
    uint8_t fw_major;
    uint8_t fw_minor;
    uint8_t fw_patch;
    char serial[15]; /* zero-terminated only when shorter than 15 characters */
    uint8_t adcbits; /* 255 = not set */
    uint32_t samplerate; /* samples per second; 0xFFFFFFFF = not set */
    float calibration[6][2]; /* six (gain, offset) pairs */
} zv_identity;

typedef struct {
    uint8_t major;
    uint8_t minor;
    uint8_t patch;
} zv_fwversion;

/* Summary of one detector, as listed or matched by serial. */
typedef struct {
    char product[32];
    char serial[16]; /* 15 characters and a terminating zero */
    uint32_t samplerate;
    uint8_t adcbits;
    uint8_t fw_major;
    uint8_t fw_minor;
    uint8_t fw_patch;
} zv_device_info;
#pragma pack(pop)

/* A linear map Y = gain * X + offset. */
typedef struct {
    double gain;
    double offset;
} zv_calibration;

#ifdef __cplusplus
static_assert(sizeof(zv_identity) == 72, "identity block is 72 bytes");
static_assert(sizeof(zv_device_info) == 56, "device summary is 56 bytes");
static_assert(sizeof(zv_fwversion) == 3, "firmware version is 3 bytes");
static_assert(sizeof(zv_calibration) == 16, "calibration is two doubles");
#else
_Static_assert(sizeof(zv_identity) == 72, "identity block is 72 bytes");
_Static_assert(sizeof(zv_device_info) == 56, "device summary is 56 bytes");
_Static_assert(sizeof(zv_fwversion) == 3, "firmware version is 3 bytes");
_Static_assert(sizeof(zv_calibration) == 16, "calibration is two doubles");
#endif

/*
 * Sample sink called by the acquisition engine with each good packet of raw samples
 * (bits 0-13 ADC code, bit 14 port S, bit 15 port T). data_lost is non-zero when the device
 * reported lost samples since the previous call. Return non-zero to continue, 0 to stop.
 * The samples pointer is valid only during the call.
 */
typedef int (*zv_sample_sink)(const uint16_t *samples, int count, int data_lost, void *user);

/* ---- Errors and version ---- */
ZV_API int zv_get_error(void);
ZV_API const char *zv_get_error_string(void);
ZV_API void zv_get_version(int *major, int *minor, int *patch);
/* The version of the libusb library serving real detectors, as "major.minor.micro". */
ZV_API const char *zv_get_libusb_version(void);

/* ---- Discovery, opening, identity ---- */
ZV_API zv_device *zv_open(void);
ZV_API zv_device *zv_open_serial(const char *serial);
ZV_API void zv_close(zv_device *dev);
/* Fills up to max summaries of the attached qualifying detectors without keeping any open;
 * returns the number of detectors found (may exceed max), or -1 with the error state set. */
ZV_API int zv_list_devices(zv_device_info *infos, int max);
/* As zv_list_devices, also filling usb_speeds[i] (codes of zv_get_usb_speed) when not null. */
ZV_API int zv_list_devices_with_speed(zv_device_info *infos, int *usb_speeds, int max);
ZV_API const char *zv_get_serial(zv_device *dev);
ZV_API const char *zv_get_product(zv_device *dev);
ZV_API uint32_t zv_get_samplerate(zv_device *dev);
ZV_API uint8_t zv_get_adcbits(zv_device *dev);
ZV_API zv_fwversion zv_get_fwversion(zv_device *dev);
ZV_API int zv_get_usb_speed(zv_device *dev);

/* ---- Vendor requests ---- */
ZV_API int zv_out_request(zv_device *dev, uint8_t request, uint16_t value, uint16_t index,
                          const uint8_t *data, uint16_t length, uint32_t timeout);
ZV_API int zv_in_request(zv_device *dev, uint8_t request, uint16_t value, uint16_t index,
                         uint8_t *data, uint16_t length, uint32_t timeout);

/* ---- Settings, test patterns, ports, reset ---- */
ZV_API int zv_set_highgain(zv_device *dev, bool on);
ZV_API int zv_set_antialias(zv_device *dev, bool on);
ZV_API int zv_set_powerdown(zv_device *dev, bool on);
ZV_API int zv_set_adcclock(zv_device *dev, bool on);
ZV_API int zv_read_feature(zv_device *dev, ZV_FEATURE_t feature);
ZV_API int zv_write_adc_register(zv_device *dev, uint8_t reg, uint8_t data);
ZV_API void zv_test_normal(zv_device *dev);
ZV_API void zv_test_checkerboard(zv_device *dev);
ZV_API void zv_test_pn9(zv_device *dev);
ZV_API int zv_test_user(zv_device *dev, uint16_t pattern);
ZV_API int zv_port_drive(zv_device *dev, ZV_PORT_t port, uint8_t level);
ZV_API int zv_port_pwm(zv_device *dev, ZV_PORT_t port, uint32_t threshold, uint32_t period);
ZV_API int zv_port_pulse(zv_device *dev, ZV_PORT_t port, uint32_t threshold);
ZV_API int zv_port_read(zv_device *dev, ZV_PORT_t port);
ZV_API int zv_port_status(zv_device *dev, ZV_PORT_t port, uint8_t record[10]);
ZV_API int zv_reset(zv_device *dev);

/* ---- Calibrations and responsivity ---- */
ZV_API zv_calibration zv_get_calibration(zv_device *dev, ZV_CALIBRATION_TYPE_t type);
ZV_API zv_calibration zv_get_rel_calibration(zv_device *dev, ZV_CALIBRATION_TYPE_t type,
                                             double wavelength);
ZV_API double zv_get_rel_responsivity(zv_device *dev, double wavelength);
ZV_API int zv_get_peak_responsivity(zv_device *dev);

/* ---- Acquisition ---- */
ZV_API int zv_collect(zv_device *dev, zv_sample_sink sink, void *user);
ZV_API int zv_get_raw_data(zv_device *dev, uint16_t *buffer, uint64_t nsamples);
ZV_API int zv_get_raw_data_triggered(zv_device *dev, uint16_t *buffer, uint64_t nsamples,
                                     ZV_TRIGGER_MODE_t mode);
ZV_API int zv_get_raw_data_per_trigger(zv_device *dev, uint16_t *buffer, uint64_t nsamples,
                                       ZV_TRIGGER_MODE_t mode, uint64_t samples_per_trigger);

#ifdef __cplusplus
}
#endif

#endif /* LIBZV_H */
