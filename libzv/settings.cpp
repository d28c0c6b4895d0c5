// Front-end settings (on/off features), ADC register writes, test patterns and reset.
#include <cstdint>

#include "adc_registers.h"
#include "c_boundary.h"
#include "continuous/device_stream.h"
#include "device_record.h"
#include "errors.h"
#include "request_codes.h"
#include "requests.h"
#include "setting_names.h"

namespace {

int set_feature(zv_device *dev, ZV_FEATURE_t feature, bool on) {
    const int status = zv::vendor_out(dev, zv::request::kSetFeature, on ? 1 : 0, uint16_t(feature),
                                      nullptr, 0, zv::kRequestTimeoutMs);
    if (status == 0) zv::note_setting(dev, zv::change::kFeatures[feature], on ? 1 : 0);
    return status;
}

int write_adc_register(zv_device *dev, uint8_t reg, uint8_t data) {
    return zv::vendor_out(dev, zv::request::kWriteAdcRegister, data, reg, nullptr, 0,
                          zv::kRequestTimeoutMs);
}

// Selects a test pattern and commits it; the device reports nothing useful for these writes.
void select_test_pattern(zv_device *dev, uint8_t pattern, double noted_as) {
    write_adc_register(dev, zv::adc::kTestPatternRegister, pattern);
    if (write_adc_register(dev, zv::adc::kCommitRegister, zv::adc::kCommitValue) == 0)
        zv::note_setting(dev, zv::change::kTestPattern, noted_as);
}

} // namespace

extern "C" {

int zv_set_highgain(zv_device *dev, bool on) {
    return zv::c_status([&] { return set_feature(dev, ZV_FEATURE_HIGHGAIN, on); });
}
int zv_set_antialias(zv_device *dev, bool on) {
    return zv::c_status([&] { return set_feature(dev, ZV_FEATURE_ANTIALIAS, on); });
}
int zv_set_powerdown(zv_device *dev, bool on) {
    return zv::c_status([&] { return set_feature(dev, ZV_FEATURE_POWERDOWN, on); });
}
int zv_set_adcclock(zv_device *dev, bool on) {
    return zv::c_status([&] { return set_feature(dev, ZV_FEATURE_ADCCLOCK, on); });
}

int zv_read_feature(zv_device *dev, ZV_FEATURE_t feature) {
    return zv::c_value(ZV_QUERY_FAILED, [&] {
        if (dev == nullptr) {
            zv::set_error(zv::Error::invalid_device);
            return -1;
        }
        uint8_t state = 0;
        if (zv::vendor_in(dev, zv::request::kReadFeature, 0, uint16_t(feature), &state, 1,
                          zv::kRequestTimeoutMs) != 0)
            return -1;
        // The device answers a negative byte for a feature it does not have.
        if (int8_t(state) < 0) {
            zv::set_error(zv::Error::requested_feature_invalid);
            return -2;
        }
        return int(state);
    });
}

int zv_write_adc_register(zv_device *dev, uint8_t reg, uint8_t data) {
    return zv::c_status([&] {
        const int status = write_adc_register(dev, reg, data);
        if (status == 0) zv::note_setting(dev, zv::change::kAdcRegister, reg * 256.0 + data);
        return status;
    });
}

void zv_test_normal(zv_device *dev) {
    zv::c_void([&] { select_test_pattern(dev, zv::adc::kPatternOff, zv::change::kPatternNormal); });
}
void zv_test_checkerboard(zv_device *dev) {
    zv::c_void([&] {
        select_test_pattern(dev, zv::adc::kPatternCheckerboard, zv::change::kPatternCheckerboard);
    });
}
void zv_test_pn9(zv_device *dev) {
    zv::c_void([&] { select_test_pattern(dev, zv::adc::kPatternPn9, zv::change::kPatternPn9); });
}

int zv_test_user(zv_device *dev, uint16_t pattern) {
    return zv::c_status([&] {
        for (const zv::adc::UserPatternRegister &r : zv::adc::kUserPatternRegisters) {
            uint8_t data = r.part == zv::adc::PatternPart::low ? uint8_t((pattern * 4) & 0xFF)
                                                               : uint8_t((pattern >> 6) & 0xFF);
            write_adc_register(dev, r.reg, data);
        }
        write_adc_register(dev, zv::adc::kTestPatternRegister, zv::adc::kPatternUser);
        const int status = write_adc_register(dev, zv::adc::kCommitRegister, zv::adc::kCommitValue);
        if (status == 0) {
            zv::note_setting(dev, zv::change::kTestPatternUser, pattern);
            zv::note_setting(dev, zv::change::kTestPattern, zv::change::kPatternUser);
        }
        return status;
    });
}

int zv_reset(zv_device *dev) {
    return zv::c_status([&] {
        // A reset restarts the detector under a running stream: the stream must be stopped first.
        if (dev != nullptr && zv::device_streaming(*dev))
            return zv::set_error(zv::Error::device_streaming);
        return zv::vendor_out(dev, zv::request::kReset, 0, 0, nullptr, 0, zv::kRequestTimeoutMs);
    });
}

} // extern "C"
