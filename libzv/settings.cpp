// Front-end settings (on/off features), ADC register writes, test patterns and reset.
#include <cstdint>

#include "adc_registers.h"
#include "device_record.h"
#include "errors.h"
#include "request_codes.h"

namespace {

int set_feature(zv_device *dev, ZV_FEATURE_t feature, bool on) {
    return zv_out_request(dev, zv::request::kSetFeature, on ? 1 : 0, uint16_t(feature), nullptr, 0,
                          zv::kRequestTimeoutMs);
}

// Selects a test pattern and commits it; the device reports nothing useful for these writes.
void select_test_pattern(zv_device *dev, uint8_t pattern) {
    zv_write_adc_register(dev, zv::adc::kTestPatternRegister, pattern);
    zv_write_adc_register(dev, zv::adc::kCommitRegister, zv::adc::kCommitValue);
}

} // namespace

extern "C" {

int zv_set_highgain(zv_device *dev, bool on) {
    return set_feature(dev, ZV_FEATURE_HIGHGAIN, on);
}
int zv_set_antialias(zv_device *dev, bool on) {
    return set_feature(dev, ZV_FEATURE_ANTIALIAS, on);
}
int zv_set_powerdown(zv_device *dev, bool on) {
    return set_feature(dev, ZV_FEATURE_POWERDOWN, on);
}
int zv_set_adcclock(zv_device *dev, bool on) {
    return set_feature(dev, ZV_FEATURE_ADCCLOCK, on);
}

int zv_read_feature(zv_device *dev, ZV_FEATURE_t feature) {
    if (dev == nullptr) {
        zv::set_error(zv::Error::invalid_device);
        return -1;
    }
    uint8_t state = 0;
    if (zv_in_request(dev, zv::request::kReadFeature, 0, uint16_t(feature), &state, 1,
                      zv::kRequestTimeoutMs) != 0)
        return -1;
    // The device answers a negative byte for a feature it does not have.
    if (int8_t(state) < 0) {
        zv::set_error(zv::Error::requested_feature_invalid);
        return -2;
    }
    return state;
}

int zv_write_adc_register(zv_device *dev, uint8_t reg, uint8_t data) {
    return zv_out_request(dev, zv::request::kWriteAdcRegister, data, reg, nullptr, 0,
                          zv::kRequestTimeoutMs);
}

void zv_test_normal(zv_device *dev) {
    select_test_pattern(dev, zv::adc::kPatternOff);
}
void zv_test_checkerboard(zv_device *dev) {
    select_test_pattern(dev, zv::adc::kPatternCheckerboard);
}
void zv_test_pn9(zv_device *dev) {
    select_test_pattern(dev, zv::adc::kPatternPn9);
}

int zv_test_user(zv_device *dev, uint16_t pattern) {
    for (const zv::adc::UserPatternRegister &r : zv::adc::kUserPatternRegisters) {
        uint8_t data = r.part == zv::adc::PatternPart::low ? uint8_t((pattern * 4) & 0xFF)
                                                           : uint8_t((pattern >> 6) & 0xFF);
        zv_write_adc_register(dev, r.reg, data);
    }
    zv_write_adc_register(dev, zv::adc::kTestPatternRegister, zv::adc::kPatternUser);
    return zv_write_adc_register(dev, zv::adc::kCommitRegister, zv::adc::kCommitValue);
}

int zv_reset(zv_device *dev) {
    return zv_out_request(dev, zv::request::kReset, 0, 0, nullptr, 0, zv::kRequestTimeoutMs);
}

} // extern "C"
