/* A C program (compiled as C) that links against libzv.so and calls every function libzv.h
 * declares, on a simulated detector, checking that each does its job. check_exports.py checks
 * that none is left out. Usage: every_function DIRECTORY (where its recordings are written). */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "libzv/libzv.h"
#include "simulated_detector.h"

static int failures;

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "%s:%d: failed: %s (last error %d: %s)\n", __FILE__, __LINE__,         \
                    #condition, zv_get_error(), zv_get_error_string());                            \
            ++failures;                                                                            \
        }                                                                                          \
    } while (0)

/* Counts samples until it has `wanted`. */
struct counter {
    int seen;
    int wanted;
};

static int count_samples(const uint16_t *samples, int count, int data_lost, void *user) {
    struct counter *c = (struct counter *)user;
    (void)samples;
    (void)data_lost;
    c->seen += count;
    return c->seen < c->wanted;
}

static int checks;

static int count_checks(void *user) {
    (void)user;
    ++checks;
    return 0;
}

/* True when each sample follows the previous one on the simulated detector's ramp of 14-bit
 * codes. */
static int is_ramp(const uint16_t *samples, int count) {
    for (int i = 1; i < count; ++i)
        if ((samples[i] & 0x3FFF) != ((samples[i - 1] + 1) & 0x3FFF)) return 0;
    return 1;
}

static void errors_and_versions(void) {
    int major = -1, minor = -1, patch = -1;
    zv_get_version(&major, &minor, &patch);
    CHECK(major == ZV_VERSION_MAJOR && minor == ZV_VERSION_MINOR && patch == ZV_VERSION_PATCH);
    CHECK(strchr(zv_get_libusb_version(), '.') != NULL);
    CHECK(zv_get_serial(NULL) == NULL);
    CHECK(zv_get_error() == ZV_ERROR_INVALID_DEVICE);
    CHECK(strcmp(zv_get_error_string(), "invalid device") == 0);
}

static zv_device *discovery_and_identity(void) {
    zv_device_info infos[8];
    int speeds[8];
    int listed = zv_list_devices(infos, 8);
    CHECK(listed >= 1);
    CHECK(zv_list_devices_with_speed(infos, speeds, 8) == listed);
    int found = 0;
    for (int i = 0; i < listed && i < 8; ++i)
        if (strcmp(infos[i].serial, "HLM25-S00001IC") == 0) found = speeds[i] == 4;
    CHECK(found);

    zv_device *first = zv_open();
    CHECK(first != NULL);
    zv_close(first);

    zv_device *dev = zv_open_serial("HLM25-S00001IC");
    CHECK(dev != NULL);
    if (dev == NULL) return NULL;
    CHECK(strcmp(zv_get_serial(dev), "HLM25-S00001IC") == 0);
    CHECK(strncmp(zv_get_product(dev), "HLM25", 5) == 0);
    CHECK(zv_get_samplerate(dev) == 80000000u);
    CHECK(zv_get_adcbits(dev) == 14);
    zv_fwversion fw = zv_get_fwversion(dev);
    CHECK(fw.major == 1 && fw.minor == 0 && fw.patch == 2);
    CHECK(zv_get_usb_speed(dev) == 4);
    return dev;
}

static void requests_and_settings(zv_device *dev) {
    uint8_t block[72] = {0};
    CHECK(zv_in_request(dev, 0x30, 0, 0, block, sizeof block, 1000) == 0);
    CHECK(memcmp(block + 4, "HLM25-S00001IC", 14) == 0);
    CHECK(zv_out_request(dev, 0xCC, 1, ZV_FEATURE_HIGHGAIN, NULL, 0, 1000) == 0);
    CHECK(zv_read_feature(dev, ZV_FEATURE_HIGHGAIN) == 1);

    CHECK(zv_set_highgain(dev, false) == 0);
    CHECK(zv_read_feature(dev, ZV_FEATURE_HIGHGAIN) == 0);
    CHECK(zv_set_antialias(dev, true) == 0);
    CHECK(zv_read_feature(dev, ZV_FEATURE_ANTIALIAS) == 1);
    CHECK(zv_set_powerdown(dev, true) == 0);
    CHECK(zv_read_feature(dev, ZV_FEATURE_POWERDOWN) == 1);
    CHECK(zv_set_powerdown(dev, false) == 0);
    CHECK(zv_set_adcclock(dev, true) == 0);
    CHECK(zv_read_feature(dev, ZV_FEATURE_ADCCLOCK) == 1);

    /* A test pattern replaces the ramp; normal brings it back. */
    CHECK(zv_write_adc_register(dev, 13, 0) == 0);
    zv_test_checkerboard(dev);
    zv_test_pn9(dev);
    CHECK(zv_test_user(dev, 0x1555) == 0);
    uint16_t samples[64];
    CHECK(zv_get_raw_data(dev, samples, 64) == 0);
    CHECK((samples[0] & 0x3FFF) == 0x1555 && (samples[63] & 0x3FFF) == 0x1555);
    zv_test_normal(dev);
    CHECK(zv_get_raw_data(dev, samples, 64) == 0);
    CHECK(is_ramp(samples, 64));
}

static void ports(zv_device *dev) {
    uint8_t record[10] = {0};
    CHECK(zv_port_drive(dev, ZV_PORT_A, 1) == 0);
    CHECK(zv_port_status(dev, ZV_PORT_A, record) == 0);
    CHECK(record[0] == 1 && record[1] == 1); /* drive mode, level 1 */
    CHECK(zv_port_pwm(dev, ZV_PORT_B, 10, 20) == 0);
    CHECK(zv_port_pulse(dev, ZV_LEDG, 5) == 0);
    CHECK(zv_port_read(dev, ZV_PORT_A) == 0); /* an input nothing drives */
    CHECK(zv_port_read(dev, (ZV_PORT_t)7) == ZV_ERROR_INVALID_ARGUMENT);
}

static void calibrations(zv_device *dev) {
    /* The simulated detector's pairs are unprogrammed: the identity map. */
    zv_calibration c = zv_get_calibration(dev, ZV_CALIBRATION_DIGITAL_HIGHGAIN);
    CHECK(c.gain == 1.0 && c.offset == 0.0);
    CHECK(zv_get_peak_responsivity(dev) == 1550);
    CHECK(zv_get_rel_responsivity(dev, 1550.0) == 1.0);
    double r = zv_get_rel_responsivity(dev, 1310.0);
    CHECK(r > 0.0 && r < 1.0);
    zv_calibration at_1310 = zv_get_rel_calibration(dev, ZV_CALIBRATION_DIGITAL_HIGHGAIN, 1310.0);
    CHECK(fabs(at_1310.gain - 1.0 / (float)r) < 1e-6);
}

static void acquisition(zv_device *dev) {
    uint16_t samples[1000];
    struct counter counter = {0, 5000};
    zv_set_interrupt_check(count_checks, NULL);
    CHECK(zv_collect(dev, count_samples, &counter) == 0);
    CHECK(counter.seen >= 5000);
    CHECK(zv_get_raw_data(dev, samples, 1000) == 0);
    CHECK(is_ramp(samples, 1000));
    zv_set_interrupt_check(NULL, NULL);

    /* Port S driven high: the trigger "S high" fires at once and bit 14 shows the level. */
    CHECK(zv_port_drive(dev, ZV_PORT_S, 1) == 0);
    memset(samples, 0, sizeof samples);
    CHECK(zv_get_raw_data_triggered(dev, samples, 100, ZV_TRIGGER_S_HIGH) == 0);
    CHECK((samples[0] & 0x4000) && (samples[99] & 0x4000));
    memset(samples, 0, sizeof samples);
    CHECK(zv_get_raw_data_per_trigger(dev, samples, 10, ZV_TRIGGER_S_HIGH, 3) == 0);
    CHECK((samples[8] & 0x4000) && samples[9] == 0); /* three whole bursts */
    CHECK(zv_port_drive(dev, ZV_PORT_S, 0) == 0);

    /* Port S low: a trigger on "S high" never comes. */
    CHECK(zv_get_raw_data_triggered_timeout(dev, samples, 100, ZV_TRIGGER_S_HIGH, 100) ==
          ZV_ERROR_TIMEOUT);
    CHECK(strcmp(zv_get_error_string(), "timed out waiting for the trigger") == 0);
    CHECK(zv_get_raw_data_per_trigger_timeout(dev, samples, 10, ZV_TRIGGER_S_HIGH, 5, 100) ==
          ZV_ERROR_TIMEOUT);
    CHECK(zv_get_raw_data_triggered_timeout(dev, samples, 100, ZV_TRIGGER_S_LOW, 100) == 0);
    CHECK(zv_get_raw_data_per_trigger_timeout(dev, samples, 10, ZV_TRIGGER_S_LOW, 5, 100) == 0);
}

/* A raw stream read into a raw recording, a float stream into a processed one, both read back. */
static void continuous_and_recordings(zv_device *dev, const char *directory) {
    enum { N = 4096 };
    static uint16_t samples[N], stored[N];
    static uint8_t flags[N];
    static float powers[N], floats[N], stored_floats[N];
    static double doubles[N];
    char raw_path[512], float_path[512];
    snprintf(raw_path, sizeof raw_path, "%s/every_function_raw.h5", directory);
    snprintf(float_path, sizeof float_path, "%s/every_function_float.h5", directory);
    zv_block block;

    zv_recording_info info;
    CHECK(zv_recording_describe(dev, 0.0, &info) == 0);
    CHECK(strcmp(info.serial, "HLM25-S00001IC") == 0 && info.device_samplerate == 80e6);
    zv_recording_writer *writer = zv_recording_writer_open(raw_path, &info, ZV_RECORDING_RAW, true);
    CHECK(writer != NULL);

    zv_raw_stream *raw = zv_raw_stream_open(dev, true);
    CHECK(raw != NULL);
    if (raw == NULL || writer == NULL) return;
    CHECK(zv_raw_stream_start(raw, 0.05) == 0);
    CHECK(zv_raw_stream_running(raw));
    CHECK(zv_raw_stream_read(raw, samples, flags, N, 2000, &block) == 0);
    CHECK(block.index == 0 && block.count == N);
    CHECK(is_ramp(samples, N));
    CHECK(zv_raw_stream_lost_total(raw) == block.lost);
    CHECK(zv_recording_writer_append_raw(writer, samples, &block) == 0);
    CHECK(zv_raw_stream_stop(raw) == 0);
    CHECK(!zv_raw_stream_running(raw));
    zv_raw_stream_close(raw);
    CHECK(zv_recording_writer_flush(writer) == 0);
    CHECK(zv_recording_writer_samples(writer) == N && zv_recording_writer_lost(writer) == 0);
    CHECK(zv_recording_writer_close(writer) == 0);

    /* The processed streams, on the same ramp: calibration "auto" with the detector's pairs, which
     * are unprogrammed (1, 0), gives the codes themselves. */
    zv_stream_float *fs = zv_open_stream_float(dev);
    zv_stream_double *ds = zv_open_stream_double(dev);
    CHECK(fs != NULL && ds != NULL);
    CHECK(zv_open_stream_float(NULL) == NULL && zv_get_error() == ZV_ERROR_INVALID_DEVICE);
    if (fs == NULL || ds == NULL) return;
    CHECK(zv_stream_float_start(fs, 0.05) == 0);
    CHECK(zv_stream_float_running(fs));
    CHECK(zv_stream_float_read(fs, floats, NULL, N, 2000, &block) == 0 && block.count == N);
    CHECK(zv_stream_float_lost_total(fs) == 0);
    CHECK(zv_stream_float_stop(fs) == 0 && !zv_stream_float_running(fs));
    for (int i = 1; i < N; ++i)
        if (floats[i] != fmodf(floats[i - 1] + 1.0f, 16384.0f)) {
            CHECK(!"the float stream follows the ramp");
            break;
        }
    writer = zv_recording_writer_open(float_path, &info, ZV_RECORDING_FLOAT32, true);
    CHECK(writer != NULL);
    if (writer != NULL) {
        CHECK(zv_recording_writer_append_float(writer, floats, &block) == 0);
        CHECK(zv_recording_writer_close(writer) == 0);
    }
    zv_stream_float_close(fs);
    CHECK(zv_stream_double_start(ds, 0.05) == 0);
    CHECK(zv_stream_double_running(ds));
    CHECK(zv_stream_double_read(ds, doubles, NULL, 100, 2000, &block) == 0 && block.count == 100);
    CHECK(zv_stream_double_lost_total(ds) == 0);
    CHECK(zv_stream_double_stop(ds) == 0 && !zv_stream_double_running(ds));
    zv_stream_double_close(ds);

    /* Read back: the samples, their power through the recorded calibration, the tables. */
    zv_recording *rec = zv_recording_open(raw_path);
    CHECK(rec != NULL);
    if (rec == NULL) return;
    CHECK(zv_recording_refresh(rec) == 0);
    CHECK(zv_recording_length(rec) == N && zv_recording_kind(rec) == ZV_RECORDING_RAW);
    CHECK(zv_recording_state(rec) == ZV_RECORDING_CLOSED);
    zv_recording_info read_info;
    CHECK(zv_recording_get_info(rec, &read_info) == 0 &&
          strcmp(read_info.serial, info.serial) == 0);
    zv_recording_attribute attribute;
    CHECK(zv_recording_attribute_count(rec) > 0);
    CHECK(zv_recording_get_attribute(rec, 0, &attribute) == 0 && attribute.name != NULL);
    zv_gap gap;
    zv_setting_change change;
    CHECK(zv_recording_gap_count(rec) == 0 && zv_recording_get_gaps(rec, 0, 0, &gap) == 0);
    CHECK(zv_recording_change_count(rec) == 0 && zv_recording_get_changes(rec, 0, 0, &change) == 0);
    CHECK(zv_recording_read_raw(rec, 0, N, stored) == 0 &&
          memcmp(stored, samples, sizeof stored) == 0);
    CHECK(zv_recording_read_raw(rec, 1, N, stored) == ZV_ERROR_INVALID_ARGUMENT);
    CHECK(zv_recording_read_power(rec, 0, N, -6, powers) == 0);
    CHECK(powers[10] == (float)(samples[10] & 0x3FFF));
    CHECK(zv_recording_read_float(rec, 0, 1, powers) == ZV_ERROR_INVALID_ARGUMENT);
    zv_recording_close(rec);
    rec = zv_recording_open(float_path);
    CHECK(rec != NULL);
    if (rec != NULL) {
        CHECK(zv_recording_kind(rec) == ZV_RECORDING_FLOAT32);
        CHECK(zv_recording_read_float(rec, 0, N, stored_floats) == 0);
        CHECK(memcmp(stored_floats, floats, sizeof floats) == 0);
        zv_recording_close(rec);
    }
    CHECK(zv_recording_repair(raw_path) == 0); /* a closed recording stays as it is */

    /* Recorders: each starts its stream, records exactly nsamples and closes the file. */
    zv_recorder_options options = {N, 0.0, 0.05, true};
    raw = zv_raw_stream_open(dev, true);
    fs = zv_open_stream_float(dev);
    ds = zv_open_stream_double(dev);
    zv_recorder *recorders[3] = {
        zv_recorder_start_raw(raw, raw_path, &options),
        NULL,
        NULL,
    };
    CHECK(recorders[0] != NULL);
    if (recorders[0] != NULL) CHECK(zv_recorder_wait(recorders[0], 5000) == 0);
    recorders[1] = zv_recorder_start_float(fs, float_path, &options);
    CHECK(recorders[1] != NULL);
    if (recorders[1] != NULL) CHECK(zv_recorder_wait(recorders[1], 5000) == 0);
    recorders[2] = zv_recorder_start_double(ds, float_path, &options);
    CHECK(recorders[2] != NULL);
    if (recorders[2] != NULL) CHECK(zv_recorder_wait(recorders[2], 5000) == 0);
    for (int i = 0; i < 3; ++i) {
        if (recorders[i] == NULL) continue;
        CHECK(zv_recorder_stop(recorders[i]) == 0);
        CHECK(!zv_recorder_running(recorders[i]));
        CHECK(zv_recorder_samples(recorders[i]) == N);
        CHECK(zv_recorder_lost(recorders[i]) == 0);
        zv_recorder_close(recorders[i]);
    }
    zv_raw_stream_close(raw);
    zv_stream_float_close(fs);
    zv_stream_double_close(ds);
    CHECK(zv_recording_open("/nonexistent/recording.h5") == NULL);
    CHECK(zv_get_error() == ZV_ERROR_FILE && strstr(zv_get_error_string(), "/nonexistent") != NULL);
    remove(raw_path);
    remove(float_path);
}

static void helpers(void) {
    int32_t exponent = 0;
    CHECK(zv_power_unit_exponent("nW", &exponent) == 0 && exponent == -9);
    CHECK(zv_power_unit_exponent("kW", &exponent) == ZV_ERROR_INVALID_ARGUMENT);
    CHECK(strcmp(zv_loss_kind_name(ZV_LOSS_DEVICE), "device") == 0);
    CHECK(strcmp(zv_loss_kind_name(ZV_LOSS_OVERFLOW), "overflow") == 0);

    /* The envelope of a ramp in 4 columns: each column's first and last sample. */
    uint16_t words[16], wmin[4], wmax[4];
    float fl[16], fmin[4], fmax[4];
    double db[16], dmin[4], dmax[4];
    for (int i = 0; i < 16; ++i) {
        words[i] = (uint16_t)i;
        fl[i] = (float)i;
        db[i] = -i;
    }
    CHECK(zv_envelope_uint16(words, 16, 4, wmin, wmax) == 0 && wmin[1] == 4 && wmax[1] == 7);
    CHECK(zv_envelope_float(fl, 16, 4, fmin, fmax) == 0 && fmin[3] == 12 && fmax[3] == 15);
    CHECK(zv_envelope_double(db, 16, 4, dmin, dmax) == 0 && dmin[0] == -3 && dmax[0] == 0);
    CHECK(zv_envelope_double(db, 16, 0, dmin, dmax) == ZV_ERROR_INVALID_ARGUMENT);
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: every_function DIRECTORY\n");
        return 2;
    }
    errors_and_versions();
    helpers();
    if (attach_simulated_detector() != 0) {
        fprintf(stderr, "could not attach a simulated detector\n");
        return 1;
    }
    zv_device *dev = discovery_and_identity();
    if (dev != NULL) {
        requests_and_settings(dev);
        ports(dev);
        calibrations(dev);
        acquisition(dev);
        continuous_and_recordings(dev, argv[1]);
        CHECK(zv_reset(dev) == 0);
        zv_close(dev);
    }
    detach_simulated_detectors();
    if (failures == 0) printf("every libzv function called from C\n");
    return failures == 0 ? 0 : 1;
}
