// The four logic ports and the LED lines: drive, square wave, pulse, read and status. Firmware up
// to 1.0.1 gets adjusted commands (port_record.h).
#include <cstdint>

#include <string>

#include "c_boundary.h"
#include "continuous/device_stream.h"
#include "device_record.h"
#include "errors.h"
#include "identity.h"
#include "port_record.h"
#include "request_codes.h"
#include "requests.h"
#include "setting_names.h"

namespace {

using zv::port::make_record;
using zv::port::Record;

bool valid_port(ZV_PORT_t port) {
    return unsigned(port) <= zv::port::kHighestPort;
}

bool old_firmware(const zv_device &dev) {
    return zv::firmware_number(dev) <= zv::port::kLastFirmwareNeedingAdjustments;
}

int send_command(zv_device *dev, ZV_PORT_t port, uint16_t index, const Record &record) {
    return zv::vendor_out(dev, zv::request::kPortCommand, uint16_t(port), index, record.data(),
                          uint16_t(record.size()), zv::kRequestTimeoutMs);
}

// Notes a port command that succeeded in a running stream's samples ("port_S_drive", ...).
int noted(int status, zv_device *dev, ZV_PORT_t port, const char *what, double value) {
    if (status == 0) {
        const std::string name = std::string("port_") + zv::change::kPorts[port] + "_" + what;
        zv::note_setting(dev, name.c_str(), value);
    }
    return status;
}

// The handle and port checks every port function starts with; 0 when both pass.
int check_port(zv_device *dev, ZV_PORT_t port) {
    if (dev == nullptr) return zv::set_error(zv::Error::invalid_device);
    if (!valid_port(port)) return zv::set_error(zv::Error::invalid_port);
    return 0;
}

} // namespace

extern "C" {

int zv_port_drive(zv_device *dev, ZV_PORT_t port, uint8_t level) {
    return zv::c_status([&] {
        if (int status = check_port(dev, port)) return status;
        return noted(send_command(dev, port, zv::port::kCommandIndex,
                                  make_record(zv::port::mode::kDrive, level, 0, 0)),
                     dev, port, zv::change::kPortDrive, level);
    });
}

int zv_port_pwm(zv_device *dev, ZV_PORT_t port, uint32_t threshold, uint32_t period) {
    return zv::c_status([&] {
        if (int status = check_port(dev, port)) return status;
        Record record = make_record(zv::port::mode::kSquareWave, 0, period, threshold);
        if (old_firmware(*dev)) {
            // Old firmware cannot run a square wave that is never high or never low: send a
            // constant level instead (constant high wins when both hold).
            if (threshold <= 1) record = make_record(zv::port::mode::kDrive, 0, 0, 0);
            if (threshold >= period) record = make_record(zv::port::mode::kDrive, 1, 0, 0);
        }
        const int status = send_command(dev, port, zv::port::kCommandIndex, record);
        noted(status, dev, port, zv::change::kPortPwmThreshold, threshold);
        return noted(status, dev, port, zv::change::kPortPwmPeriod, period);
    });
}

int zv_port_pulse(zv_device *dev, ZV_PORT_t port, uint32_t threshold) {
    return zv::c_status([&] {
        if (int status = check_port(dev, port)) return status;
        if (old_firmware(*dev)) {
            // Old firmware needs a port that is not pulsing yet to be set to a square wave and
            // driven low before its first pulse.
            Record current = {};
            zv_port_status(dev, port, current.data());
            if (current[zv::port::kModeOffset] != zv::port::mode::kPulse) {
                zv_port_pwm(dev, port, threshold, zv::port::kPulsePreparationPeriod);
                zv_port_drive(dev, port, 0);
            }
        }
        return noted(send_command(dev, port, zv::port::kPulseCommandIndex,
                                  make_record(zv::port::mode::kPulse, 0, 0, threshold)),
                     dev, port, zv::change::kPortPulse, threshold);
    });
}

int zv_port_read(zv_device *dev, ZV_PORT_t port) {
    return zv::c_value(ZV_QUERY_FAILED, [&] {
        zv::set_error(zv::Error::success);
        if (int status = check_port(dev, port)) return status;
        int status = send_command(dev, port, zv::port::kCommandIndex,
                                  make_record(zv::port::mode::kInput, 0, 0, 0));
        if (status != 0) return status;
        uint8_t level = 0xFF;
        if (zv::vendor_in(dev, zv::request::kPortLevel, uint16_t(port), 0, &level, 1,
                          zv::kRequestTimeoutMs) != 0)
            return -1;
        if (int8_t(level) < 0) return zv::set_error(zv::Error::firmware_error);
        return int(level);
    });
}

int zv_port_status(zv_device *dev, ZV_PORT_t port, uint8_t record[10]) {
    return zv::c_status([&] {
        if (int status = check_port(dev, port)) return status;
        if (record == nullptr) return zv::set_error(zv::Error::invalid_parameters);
        return zv::vendor_in(dev, zv::request::kPortCommand, uint16_t(port),
                             record[zv::port::kModeOffset], record, zv::port::kRecordSize,
                             zv::kRequestTimeoutMs);
    });
}

} // extern "C"
