// The 10-byte port command record (request data of the port command) and the port rules that
// depend on it.
#pragma once

#include <array>
#include <cstdint>

#include "usb/byte_order.h"

namespace zv {
namespace port {

constexpr unsigned kHighestPort = 6; // ZV_LEDB

namespace mode {
constexpr uint8_t kInput = 0;
constexpr uint8_t kDrive = 1;
constexpr uint8_t kSquareWave = 4;
constexpr uint8_t kPulse = 5;
} // namespace mode

// wIndex of the port command: 0, except for a pulse.
constexpr uint16_t kCommandIndex = 0;
constexpr uint16_t kPulseCommandIndex = 5;

// Firmware up to 1.0.1 (major*65536 + minor*256 + patch) mishandles square waves that are
// constantly low or high and needs a pulse port prepared first.
constexpr uint32_t kLastFirmwareNeedingAdjustments = 0x010001;

// Square-wave period used to prepare a port for a pulse on old firmware.
constexpr uint32_t kPulsePreparationPeriod = 0xFFFFFFFF;

constexpr size_t kRecordSize = 10;
using Record = std::array<uint8_t, kRecordSize>;

// Byte offsets of the fields; multi-byte fields are little-endian.
constexpr size_t kModeOffset = 0;
constexpr size_t kLevelOffset = 1;
constexpr size_t kPeriodOffset = 2;
constexpr size_t kThresholdOffset = 6;

// A record with the given fields; fields a mode does not use are passed as zero.
inline Record make_record(uint8_t mode, uint8_t level, uint32_t period, uint32_t threshold) {
    Record r = {};
    r[kModeOffset] = mode;
    r[kLevelOffset] = level;
    zvusb::put_le32(&r[kPeriodOffset], period);
    zvusb::put_le32(&r[kThresholdOffset], threshold);
    return r;
}

} // namespace port
} // namespace zv
