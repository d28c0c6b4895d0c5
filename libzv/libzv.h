/*
 * libzv: host library for the HLM25 USB photodetector.
 *
 * The one public, C-callable header. Every function reports failure by storing an error code and
 * a message in the calling thread's last-error state (zv_get_error, zv_get_error_string; one per
 * thread, as errno is: each thread reads the error of its own last call) and returning a status
 * (0 = success) or a value outside its normal range. Nothing is thrown across this interface.
 * Calls on different detectors may run on different threads at the same time; calls on one
 * detector are serialised (control requests take turns, a second collection is refused while one
 * runs).
 */
#ifndef LIBZV_H
#define LIBZV_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

/* ZV_VERSION_MAJOR, ZV_VERSION_MINOR, ZV_VERSION_PATCH: generated from the project's version. */
#include "zv_version.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define ZV_API __attribute__((visibility("default")))
#else
#define ZV_API
#endif

/* The argument enumerations below may hold any int a C caller passes (the functions refuse values
   outside them). C++ sees them with int as their fixed underlying type, the size C gives them,
   so such a value is a valid one to hold there too. */
#ifdef __cplusplus
#define ZV_INT_BASE : int
#else
#define ZV_INT_BASE
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
    ZV_ERROR_INTERRUPTED =
        55,                /* the interrupt check asked the call to stop (zv_set_interrupt_check) */
    ZV_ERROR_TIMEOUT = 56, /* a time-out given by the caller passed */
    ZV_ERROR_STREAM_STATE = 57, /* a continuous stream is not running, was stopped, or is running */
    ZV_ERROR_FILE = 58,         /* a file could not be created, written or read; the message names
                                   the file and the cause */
    ZV_ERROR_FILE_EXISTS = 59,  /* the file exists and overwriting it was not asked for */
    ZV_ERROR_NOT_RECORDING = 60, /* the file is not a zv recording; the message names it */
    ZV_ERROR_INTERNAL = 61,      /* an unexpected failure inside the library (please report it) */
    ZV_ERROR_DEVICE_OPEN = 62,   /* the detector is already open in this process */
    ZV_ERROR_GAIN_MODE = -1,
};

/* One opened detector; created by zv_open / zv_open_serial, released by zv_close. */
typedef struct zv_device zv_device;

typedef enum ZV_INT_BASE {
    ZV_FEATURE_HIGHGAIN = 0,  /* transimpedance amplifier in high-gain mode */
    ZV_FEATURE_ANTIALIAS = 1, /* anti-aliasing filter enabled */
    ZV_FEATURE_POWERDOWN = 2, /* analog circuitry powered down */
    ZV_FEATURE_ADCCLOCK = 3,  /* ADC clock enabled */
} ZV_FEATURE_t;

typedef enum ZV_INT_BASE {
    ZV_PORT_A = 0,
    ZV_PORT_B = 1,
    ZV_PORT_S = 2, /* level also carried in bit 14 of every raw sample */
    ZV_PORT_T = 3, /* level also carried in bit 15 of every raw sample */
    ZV_LEDR = 4,
    ZV_LEDG = 5,
    ZV_LEDB = 6,
} ZV_PORT_t;

typedef enum ZV_INT_BASE {
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

typedef enum ZV_INT_BASE {
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
    char serial[15];         /* zero-terminated only when shorter than 15 characters */
    uint8_t adcbits;         /* ZV_ADCBITS_NOT_SET = not set */
    uint32_t samplerate;     /* samples per second; ZV_SAMPLERATE_NOT_SET = not set */
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

/* The values the queries below return when they have nothing to give. The error state says why:
 * 50 "invalid device" for a null handle; for an identity field the detector leaves unset, 52 with
 * a message naming the field (zv_get_samplerate, zv_get_adcbits, zv_get_fwversion; a sample rate
 * of zero counts as unset). */
#define ZV_SAMPLERATE_NOT_SET 0xFFFFFFFFu /* zv_get_samplerate */
#define ZV_ADCBITS_NOT_SET 255            /* zv_get_adcbits */
#define ZV_FWVERSION_NOT_SET 255          /* zv_get_fwversion: major, minor and patch all */
/* zv_get_usb_speed, zv_get_peak_responsivity, zv_read_feature (any negative), zv_list_devices */
#define ZV_QUERY_FAILED (-1)
/* zv_get_rel_responsivity fails with +infinity; zv_get_calibration and zv_get_rel_calibration
 * with the pair (0, 0) (an unprogrammed pair reads (1, 0)); zv_port_read with anything but 0
 * or 1; zv_get_serial and zv_get_product with null. */

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

/* The raw sample word: bits 0-13 the ADC code, bit 14 the level of port S, bit 15 port T. */
#define ZV_SAMPLE_CODE_MASK 0x3FFF
#define ZV_SAMPLE_PORT_S_BIT 14
#define ZV_SAMPLE_PORT_T_BIT 15

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

/* ---- Calibrations and responsivity ----
 * The named types read back the stored pair, whatever it holds. ZV_CALIBRATION_DIGITAL_AUTO, the
 * pair calibrated data is computed with, refuses a pair that is not finite (52, failure value). */
ZV_API zv_calibration zv_get_calibration(zv_device *dev, ZV_CALIBRATION_TYPE_t type);
ZV_API zv_calibration zv_get_rel_calibration(zv_device *dev, ZV_CALIBRATION_TYPE_t type,
                                             double wavelength);
ZV_API double zv_get_rel_responsivity(zv_device *dev, double wavelength);
ZV_API int zv_get_peak_responsivity(zv_device *dev);

/* ---- Envelopes ----
 * Folds a block of n samples into `columns` pairs of (minimum, maximum), for drawing a long trace
 * one column per pixel without hiding any sample: sample i belongs to column
 * floor(i * columns / n), so each column holds floor(n / columns) or ceil(n / columns) consecutive
 * samples and a single-sample spike always reaches the extremes of its column. With more columns
 * than samples, a column that holds no sample repeats the sample before it, so the trace is
 * drawn as steps. mins and maxs receive `columns` values each.
 * Floating-point samples are compared in their total order: -0.0 is below +0.0, and a NaN in a
 * column is reported as both its minimum and its maximum (a positive NaN if the column holds NaNs
 * of both signs). Vectorised with AVX2 where the processor has it; every path gives the same bits.
 * These functions touch no device and may be called from any thread. Returns 0, or 48 "invalid
 * parameters passed" with the error state set when n or columns is 0 or an array is null. */
ZV_API int zv_envelope_uint16(const uint16_t *samples, uint64_t n, uint64_t columns, uint16_t *mins,
                              uint16_t *maxs);
ZV_API int zv_envelope_float(const float *samples, uint64_t n, uint64_t columns, float *mins,
                             float *maxs);
ZV_API int zv_envelope_double(const double *samples, uint64_t n, uint64_t columns, double *mins,
                              double *maxs);

/* ---- Interrupting blocking calls ----
 * Blocking calls (collections, continuous reads, control requests) call the installed check about
 * every 50 ms on the calling thread while they wait, never on the library's own threads. A non-zero
 * return abandons the call: it leaves the detector idle and returns ZV_ERROR_INTERRUPTED. One check
 * serves the whole process (a Python binding installs one that runs the interpreter's signal
 * handlers); null removes it. */
typedef int (*zv_interrupt_check)(void *user);
ZV_API void zv_set_interrupt_check(zv_interrupt_check check, void *user);

/* ---- Acquisition ---- */
ZV_API int zv_collect(zv_device *dev, zv_sample_sink sink, void *user);
ZV_API int zv_get_raw_data(zv_device *dev, uint16_t *buffer, uint64_t nsamples);
ZV_API int zv_get_raw_data_triggered(zv_device *dev, uint16_t *buffer, uint64_t nsamples,
                                     ZV_TRIGGER_MODE_t mode);
ZV_API int zv_get_raw_data_per_trigger(zv_device *dev, uint16_t *buffer, uint64_t nsamples,
                                       ZV_TRIGGER_MODE_t mode, uint64_t samples_per_trigger);
/* As the two above, giving up with ZV_ERROR_TIMEOUT ("timed out waiting for the trigger") when a
 * trigger does not come within timeout_ms milliseconds of the collection's start, or of the end of
 * the previous burst (negative: no limit). The bursts completed before stay in the buffer. */
ZV_API int zv_get_raw_data_triggered_timeout(zv_device *dev, uint16_t *buffer, uint64_t nsamples,
                                             ZV_TRIGGER_MODE_t mode, int32_t timeout_ms);
ZV_API int zv_get_raw_data_per_trigger_timeout(zv_device *dev, uint16_t *buffer, uint64_t nsamples,
                                               ZV_TRIGGER_MODE_t mode, uint64_t samples_per_trigger,
                                               int32_t timeout_ms);

/* ---- Continuous streams ----
 * A started stream keeps the detector streaming on a thread of its own (the same engine as
 * zv_collect: sixteen transfers in flight) and hands its samples to the reader through a ring
 * buffer holding buffer_seconds of samples. Reads continue exactly where the previous read ended.
 * Nothing is lost silently: a gap in the samples raises the `lost` count of the block it falls in
 * and is described in the block's gap list. A detector that paces itself (a real one, or a
 * simulated one in real-time mode) is never waited for: when the reader falls behind and the ring
 * is full, the newest samples keep flowing and the dropped ones are counted exactly. A simulated
 * detector without a clock produces samples only as fast as they are read, so there the stream
 * waits for the reader instead and is lossless.
 *
 * Stream positions ("index") count samples of the stream's output from start, lost samples
 * included, so index / sample rate is the time since start. Host times are UNIX times in seconds.
 * One stream at a time may run on a detector. While it runs, the detector's settings, test
 * patterns, ports, LED and vendor requests work from any thread (zv_reset excepted); each change
 * is reported in the block in which it takes effect. */

enum {
    ZV_LOSS_DEVICE = 1, /* the detector's data-loss marker or a damaged packet; the count is
                           estimated from the host clock and the sample rate (at least a packet) */
    ZV_LOSS_OVERFLOW =
        2, /* the reader fell behind and the ring buffer was full; the count is exact */
};

/* One gap: `lost` samples are missing from stream position `index` on (the sample after the gap
 * has position index + lost). */
typedef struct {
    uint64_t index;
    uint64_t lost;
    int32_t kind; /* ZV_LOSS_DEVICE or ZV_LOSS_OVERFLOW */
} zv_gap;

/* A setting changed while the stream ran: it applies from stream position `index` (a detector
 * setting reaches the samples within the transfers then in flight, up to about 16 transfers
 * later). Names: "highgain", "antialias", "powerdown", "adcclock", "test_pattern" (0 normal,
 * 1 checkerboard, 2 PN9, 3 user), "test_pattern_user", "adc_register", "port_<P>_drive",
 * "port_<P>_pwm_threshold", "port_<P>_pwm_period", "port_<P>_pulse" (P: A, B, S, T, LEDR, LEDG,
 * LEDB), "vendor_request"; for processed streams also "cutoff" (a filter that takes it while
 * running), "calibration_gain", "calibration_offset", "calibration_wavelength" and
 * "calibration_units". */
typedef struct {
    uint64_t index;
    char name[24]; /* zero-terminated */
    double value;
} zv_setting_change;

/* What one read delivered. The gap and change lists belong to the stream and stay valid until its
 * next read, stop or close. */
typedef struct {
    uint64_t index; /* stream position of the first sample */
    uint64_t count; /* samples written */
    uint64_t lost;  /* samples lost just before or inside the block (the sum of its gaps) */
    double time;    /* host time of the first sample (UNIX seconds); 0 for an empty block */
    const zv_gap *gaps;
    uint32_t ngaps;
    const zv_setting_change *changes;
    uint32_t nchanges;
} zv_block;

/* Raw continuous streams: 16-bit sample words as the detector sends them, with the port bits
 * (14 and 15) cleared when `mask` is true. Opening reads nothing; the stream borrows dev, which
 * must stay open until the stream is closed. Returns null with the error state set on failure. */
typedef struct zv_raw_stream zv_raw_stream;
ZV_API zv_raw_stream *zv_raw_stream_open(zv_device *dev, bool mask);
/* Starts streaming with a ring of buffer_seconds (> 0) of samples. Fails with
 * ZV_ERROR_STREAM_STATE when this or another stream already runs on the detector. */
ZV_API int zv_raw_stream_start(zv_raw_stream *stream, double buffer_seconds);
/* Reads the next nsamples samples into `samples` (and, when flags is not null, the levels of ports
 * S and T of each sample into flags: bit 0 port S, bit 1 port T), waiting at most timeout_ms
 * milliseconds (negative: without limit; 0: only what is there). Returns 0 with a full block, or:
 * ZV_ERROR_TIMEOUT or ZV_ERROR_INTERRUPTED with the samples gathered so far (block->count of them,
 * possibly 0): nothing is lost, the next read continues after them; ZV_ERROR_STREAM_STATE when the
 * stream is not running or was stopped during the read; the acquisition's own error (for example
 * 32 after an unplug) once the samples before it were read. block may not be null. */
ZV_API int zv_raw_stream_read(zv_raw_stream *stream, uint16_t *samples, uint8_t *flags,
                              uint64_t nsamples, int32_t timeout_ms, zv_block *block);
/* Stops streaming and leaves the detector idle; unread samples are discarded. Stopping a stopped
 * stream does nothing. A read blocked on another thread returns ZV_ERROR_STREAM_STATE. */
ZV_API int zv_raw_stream_stop(zv_raw_stream *stream);
ZV_API bool zv_raw_stream_running(zv_raw_stream *stream);
/* Samples lost since start, in all. */
ZV_API uint64_t zv_raw_stream_lost_total(zv_raw_stream *stream);
/* Stops the stream if it runs and frees it. */
ZV_API void zv_raw_stream_close(zv_raw_stream *stream);

/* Processed streams (calibration to optical power, low-pass filter, downsampling or decimation) in
 * float or double. To C callers a stream is an opaque pointer; C++ callers use the full interface
 * of stream/zv_stream.h. The continuous functions behave as their raw counterparts above;
 * calibration, filter state and the downsampling phase carry across reads. */
#ifdef __cplusplus
}
template <typename T> class ZVStream;
typedef ZVStream<float> zv_stream_float;
typedef ZVStream<double> zv_stream_double;
extern "C" {
#else
typedef struct zv_stream_float zv_stream_float;
typedef struct zv_stream_double zv_stream_double;
#endif
/* Creates a stream bound to dev (borrowed); null with 50 "invalid device" or 49 on failure. */
ZV_API zv_stream_float *zv_open_stream_float(zv_device *dev);
ZV_API zv_stream_double *zv_open_stream_double(zv_device *dev);
ZV_API void zv_stream_float_close(zv_stream_float *stream);
ZV_API void zv_stream_double_close(zv_stream_double *stream);
ZV_API int zv_stream_float_start(zv_stream_float *stream, double buffer_seconds);
ZV_API int zv_stream_double_start(zv_stream_double *stream, double buffer_seconds);
ZV_API int zv_stream_float_read(zv_stream_float *stream, float *samples, uint8_t *flags,
                                uint64_t nsamples, int32_t timeout_ms, zv_block *block);
ZV_API int zv_stream_double_read(zv_stream_double *stream, double *samples, uint8_t *flags,
                                 uint64_t nsamples, int32_t timeout_ms, zv_block *block);
ZV_API int zv_stream_float_stop(zv_stream_float *stream);
ZV_API int zv_stream_double_stop(zv_stream_double *stream);
ZV_API bool zv_stream_float_running(zv_stream_float *stream);
ZV_API bool zv_stream_double_running(zv_stream_double *stream);
ZV_API uint64_t zv_stream_float_lost_total(zv_stream_float *stream);
ZV_API uint64_t zv_stream_double_lost_total(zv_stream_double *stream);

/* ---- Recordings: HDF5 files of samples ----
 * A recording is an HDF5 file holding one group, "recording": a growing 1-D dataset "samples" of
 * raw 16-bit words (uint16) or processed samples (float32), attributes that say how to interpret
 * them, a gap table "gaps" and a table of settings changed while recording "changes" (the layout is
 * documented in the README). The file is written in HDF5's single-writer / multiple-reader mode:
 * other processes can read it while it grows, and after the writing process is killed it holds
 * every sample written up to the last flush (a writer flushes data and tables every 0.5 s).
 * Such a file opens for reading through these functions and with h5py's swmr=True; for tools that
 * do not use that mode, zv_recording_repair makes it an ordinary HDF5 file.
 *
 * Failures store ZV_ERROR_FILE, ZV_ERROR_FILE_EXISTS, ZV_ERROR_NOT_RECORDING, 48 (arguments, an
 * index range outside the recording) or 49, with a message naming the file and the cause; the
 * message stays readable until the next failure. Indices and counts are in stored samples: a gap
 * leaves no room in the dataset, it is listed in the gap table. */

enum {
    ZV_RECORDING_RAW = 0,     /* uint16 words as the detector sends them (codes in bits 0-13) */
    ZV_RECORDING_FLOAT32 = 1, /* float32 processed samples: power in W x 10^units */
};

#define ZV_RECORDING_PAIRS 6

/* What a recording's attributes say about its samples; the caller fills it for the writer. Text
 * fields are zero-terminated. */
typedef struct {
    char serial[16];          /* detector serial */
    char product[32];         /* product name */
    char firmware[16];        /* firmware version, "major.minor.patch" */
    double samplerate;        /* S/s of the stored samples */
    double device_samplerate; /* S/s of the detector's ADC */
    int32_t adc_bits;         /* bits of the ADC code */
    int32_t high_gain;        /* 1: amplifier in high gain at the start, 0: low gain */
    /* The six stored calibration pairs as the identity block holds them: (gain in uW per ADC code,
     * offset in uW) at the photodiode's peak wavelength. */
    double calibrations[ZV_RECORDING_PAIRS][2];
    int32_t calibration_pair;         /* index (0-5) of the stored pair in use at the start; -1:
                                         a custom calibration (processed recordings) */
    int32_t calibration_follows_gain; /* 1: the automatic choice, pair 0 in high gain and pair 1
                                         in low gain, following "highgain" changes */
    double wavelength;                /* nm, the wavelength the calibration is corrected to */
    double responsivity;              /* relative responsivity at the wavelength (1 at the peak) */
    double calibration[2];            /* (gain uW per code, offset uW) in use at the start: the
                                         stored pair divided by the responsivity */
    int32_t units;        /* power unit as a power of ten of watts (-6: uW): of the stored samples
                             in processed recordings, of the stream in raw ones */
    char filter[24];      /* processed: the stream's filter mode; raw: "none" */
    double cutoff;        /* Hz, the filter's cutoff; 0 without a filter */
    int32_t downsampling; /* 1 sample kept in this many by downsampling (1: all) */
    int32_t decimation;   /* 1 sample kept in this many by decimation (1: all) */
    int32_t port_bits_masked; /* raw: 1 when bits 14 and 15 (ports S and T) were cleared */
    double start_time;        /* UNIX time (s, UTC) the recording started; 0: when it is opened */
} zv_recording_info;

/* Fills info with what the detector says about a raw recording of its samples: serial, product,
 * firmware, sample rates, ADC bits, the gain now, the six stored pairs and the automatic
 * calibration corrected to wavelength (nm; 0: the photodiode's peak), units uW, no filter, no
 * reduction, port bits masked, start time 0 (when the writer opens). A processed recording
 * overrides the stream's part (sample rate, filter, cutoff, reduction, units, calibration).
 * Returns 0, or the error of the request or calibration that failed. */
ZV_API int zv_recording_describe(zv_device *dev, double wavelength, zv_recording_info *info);

/* Writing. A writer stores blocks of samples with their description (zv_block: stream positions,
 * gaps and setting changes, as a continuous stream's read gives them); positions become stored
 * indices in the tables. It keeps the last 4 MiB of the disk free: when a write would go below
 * that, or a write fails, it stops with ZV_ERROR_FILE, closes the file cleanly where it can and
 * refuses every later call with the same error; the file holds every sample up to that point. */
typedef struct zv_recording_writer zv_recording_writer;
/* Creates the file (kind: ZV_RECORDING_RAW or ZV_RECORDING_FLOAT32). An existing file fails with
 * ZV_ERROR_FILE_EXISTS unless overwrite is true; a file another writer is writing is never
 * overwritten. Returns null with the error state set on failure. */
ZV_API zv_recording_writer *
zv_recording_writer_open(const char *path, const zv_recording_info *info, int kind, bool overwrite);
/* Appends block->count samples (of the writer's kind) described by block, and flushes when the
 * last flush is 0.5 s old (a caller whose blocks pause flushes itself, so readers see them). */
ZV_API int zv_recording_writer_append_raw(zv_recording_writer *writer, const uint16_t *samples,
                                          const zv_block *block);
ZV_API int zv_recording_writer_append_float(zv_recording_writer *writer, const float *samples,
                                            const zv_block *block);
/* Writes everything appended so far to the file, where readers see it. */
ZV_API int zv_recording_writer_flush(zv_recording_writer *writer);
/* Samples stored, and samples the appended blocks reported lost. */
ZV_API uint64_t zv_recording_writer_samples(zv_recording_writer *writer);
ZV_API uint64_t zv_recording_writer_lost(zv_recording_writer *writer);
/* Flushes, closes the file and frees the writer, also when that fails (its error is returned). */
ZV_API int zv_recording_writer_close(zv_recording_writer *writer);

/* Reading. A reader opens a recording read-only, also one that is being written (it then sees the
 * samples of the writer's last flush; zv_recording_refresh looks again). */
typedef struct zv_recording zv_recording;
enum {
    ZV_RECORDING_CLOSED = 0,   /* the writer closed the file */
    ZV_RECORDING_WRITING = 1,  /* a writer is writing it now */
    ZV_RECORDING_UNCLOSED = 2, /* its writer stopped without closing it (killed, crashed): readable
                                  here and with SWMR readers; zv_recording_repair for others */
};
ZV_API zv_recording *zv_recording_open(const char *path);
ZV_API void zv_recording_close(zv_recording *rec);
/* Looks for samples and table rows flushed since the open or the last refresh. */
ZV_API int zv_recording_refresh(zv_recording *rec);
ZV_API uint64_t zv_recording_length(zv_recording *rec); /* stored samples */
ZV_API int zv_recording_kind(zv_recording *rec);        /* ZV_RECORDING_RAW or _FLOAT32 */
ZV_API int zv_recording_state(zv_recording *rec);       /* ZV_RECORDING_CLOSED, ... */
ZV_API int zv_recording_get_info(zv_recording *rec, zv_recording_info *info);
/* Every attribute of the recording's group, as the file holds it. Numbers are given as doubles
 * (`integer` tells whether the file stores integers) in a rows x columns array (1 x 1 for a
 * scalar); text attributes have text set and values null. Valid while rec is open. */
typedef struct {
    const char *name;
    const char *text;
    const double *values;
    uint32_t rows;
    uint32_t columns;
    bool integer;
} zv_recording_attribute;
ZV_API int zv_recording_attribute_count(zv_recording *rec);
ZV_API int zv_recording_get_attribute(zv_recording *rec, int i, zv_recording_attribute *attribute);
/* The gap table: gap i says `lost` samples are missing before stored sample `index`. */
ZV_API uint64_t zv_recording_gap_count(zv_recording *rec);
ZV_API int zv_recording_get_gaps(zv_recording *rec, uint64_t first, uint64_t count, zv_gap *gaps);
/* The changes table: change i applies from stored sample `index`. */
ZV_API uint64_t zv_recording_change_count(zv_recording *rec);
ZV_API int zv_recording_get_changes(zv_recording *rec, uint64_t first, uint64_t count,
                                    zv_setting_change *changes);
/* Stored samples [start, start + count): raw words of a raw recording, values of a processed one.
 * A range outside the recording fails with 48. */
ZV_API int zv_recording_read_raw(zv_recording *rec, uint64_t start, uint64_t count, uint16_t *out);
ZV_API int zv_recording_read_float(zv_recording *rec, uint64_t start, uint64_t count, float *out);
/* Optical power of stored samples [start, start + count) in W x 10^units: raw codes (port bits
 * cleared) through the calibration the file records, computed in float32 as a float32 stream
 * computes it (after a "highgain" change, a calibration that follows the gain switches pairs);
 * processed values rescaled from the file's unit. */
ZV_API int zv_recording_read_power(zv_recording *rec, uint64_t start, uint64_t count, int32_t units,
                                   float *out);
/* The name of a gap kind as recordings write it: "device", "overflow", or "unknown" (0, samples a
 * block reported lost without placing them). */
ZV_API const char *zv_loss_kind_name(int32_t kind);
/* The power of ten of watts of a unit name ("pW", "nW", "uW" or "µW", "mW", "W"); 48 otherwise. */
ZV_API int zv_power_unit_exponent(const char *name, int32_t *exponent);
/* Makes a recording whose writer stopped without closing it (ZV_RECORDING_UNCLOSED) an ordinary
 * HDF5 file that any HDF5 tool opens, keeping every flushed sample (as `h5clear -s --increment`
 * does; `h5clear -s` alone would cut the file short and lose the samples). Refuses a file that a
 * writer is writing now; a closed recording is left as it is. */
ZV_API int zv_recording_repair(const char *path);

/* ---- Recording a continuous stream ----
 * A recorder writes a continuous stream (raw, float or double) to a recording on a thread of its
 * own: it reads the stream with a short time-out and appends each block with its gaps and setting
 * changes, flushing every 0.5 s, also while blocks pause. A slow disk never stalls the
 * acquisition: the stream's ring holds the samples meanwhile, and what does not fit is lost as
 * ZV_LOSS_OVERFLOW gaps, counted (zv_recorder_lost) and written to the gap table.
 *
 * While it records, the recorder is the stream's only reader: the stream's own read fails with
 * ZV_ERROR_STREAM_STATE ("the stream is being recorded ..."), as does a second recorder and a
 * start. The stream's settings may change meanwhile and are written to the changes table; its
 * stop ends the recording. A raw stream gives a raw recording (the words as the stream delivers
 * them, port bits masked or kept); a float stream a processed one; a double stream a processed
 * one too, its samples rounded to float32 as they are stored (the precision of the detector's
 * 14-bit codes is kept). A processed stream must calibrate to power (mode "auto" or "custom";
 * "none" fails with 48).
 *
 * The recording ends after `nsamples` stored samples exactly, after `seconds` of stream time,
 * at zv_recorder_stop, when the stream is stopped or fails, or when the file cannot be written
 * (disk full, write error). The recorder then closes the file cleanly (it holds every sample
 * recorded) and stops the stream if the recorder started it; a stream that was running already
 * is left running. A failure is kept: zv_recorder_wait and zv_recorder_stop return it and store
 * it as the calling thread's last error, its message naming the file and the cause. The
 * zv_recorder_* functions may be called from several threads at once (a wait on one, a stop on
 * another). Stop the recorder before closing its stream, and the stream before its device; a
 * stopped recorder may be closed at any time after. */
typedef struct zv_recorder zv_recorder;
typedef struct {
    uint64_t nsamples;     /* stored samples to record, exactly; 0: no limit */
    double seconds;        /* stream time to record (s): seconds x the stream's rate positions from
                              the first sample recorded, lost ones counted; 0: no limit */
    double buffer_seconds; /* ring (s) of a stream the recorder starts itself; 0: 1 s */
    bool overwrite;        /* replace an existing file (never one a writer is writing now) */
} zv_recorder_options;
/* Starts recording `stream` to path, starting the stream when it is not running (options may be
 * null: no limits, no overwrite). Returns null with the error stored, leaving no file and the
 * stream as it was: ZV_ERROR_FILE_EXISTS, ZV_ERROR_FILE (missing or unwritable folder, ...),
 * ZV_ERROR_STREAM_STATE (the stream is recorded already, or a read of it is in progress), 48
 * (negative or non-finite seconds or buffer, a processed stream without calibration to power),
 * or the stream's own error when it cannot start. */
ZV_API zv_recorder *zv_recorder_start_raw(zv_raw_stream *stream, const char *path,
                                          const zv_recorder_options *options);
ZV_API zv_recorder *zv_recorder_start_float(zv_stream_float *stream, const char *path,
                                            const zv_recorder_options *options);
ZV_API zv_recorder *zv_recorder_start_double(zv_stream_double *stream, const char *path,
                                             const zv_recorder_options *options);
/* Waits up to timeout_ms milliseconds (negative: without limit) for the recording to end,
 * answering the interrupt check. Returns 0 once it ended well, its failure once it failed,
 * ZV_ERROR_TIMEOUT ("the recording has not ended yet") or ZV_ERROR_INTERRUPTED while it goes on. */
ZV_API int zv_recorder_wait(zv_recorder *recorder, int32_t timeout_ms);
/* Ends the recording, waits until the file is closed (at most about 0.1 s and the last flush),
 * and returns 0 or the recording's failure, as often as it is called. */
ZV_API int zv_recorder_stop(zv_recorder *recorder);
/* True until the recording has ended (its file closed). */
ZV_API bool zv_recorder_running(zv_recorder *recorder);
/* Samples stored so far, and samples the stream lost while recording (in the gap table). */
ZV_API uint64_t zv_recorder_samples(zv_recorder *recorder);
ZV_API uint64_t zv_recorder_lost(zv_recorder *recorder);
/* Stops the recording if it runs and frees the recorder. */
ZV_API void zv_recorder_close(zv_recorder *recorder);

#ifdef __cplusplus
}
#endif

#endif /* LIBZV_H */
