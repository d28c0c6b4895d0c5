/* A C program (compiled as C) that links against libzv.so and calls every function libzv.h
 * declares, on a simulated detector, checking that each does its job. check_exports.py checks
 * that none is left out. */
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
}

static void continuous(zv_device *dev) {
    uint16_t samples[4096];
    uint8_t flags[4096];
    zv_block block;
    zv_raw_stream *stream = zv_raw_stream_open(dev, true);
    CHECK(stream != NULL);
    if (stream == NULL) return;
    CHECK(zv_raw_stream_start(stream, 0.05) == 0);
    CHECK(zv_raw_stream_running(stream));
    CHECK(zv_raw_stream_read(stream, samples, flags, 4096, 2000, &block) == 0);
    CHECK(block.index == 0 && block.count == 4096);
    CHECK(is_ramp(samples, 4096));
    CHECK(zv_raw_stream_lost_total(stream) == block.lost);
    CHECK(zv_raw_stream_stop(stream) == 0);
    CHECK(!zv_raw_stream_running(stream));
    zv_raw_stream_close(stream);

    zv_stream_float *floats = zv_open_stream_float(dev);
    zv_stream_double *doubles = zv_open_stream_double(dev);
    CHECK(floats != NULL && doubles != NULL);
    CHECK(zv_open_stream_float(NULL) == NULL && zv_get_error() == ZV_ERROR_INVALID_DEVICE);
    delete_processed_streams(floats, doubles);
}

int main(void) {
    errors_and_versions();
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
        continuous(dev);
        CHECK(zv_reset(dev) == 0);
        zv_close(dev);
    }
    detach_simulated_detectors();
    if (failures == 0) printf("every libzv function called from C\n");
    return failures == 0 ? 0 : 1;
}
