// Driver request codes executed on an open device handle (DriverHandle::io_control).
#pragma once

#include <cstdint>

namespace zvusb::ioctl {

constexpr uint32_t kGetDriverVersion = 0x220000;   // 4 bytes out (sync)
constexpr uint32_t kGetUsbdiVersion = 0x220004;    // 4 bytes out: USB stack version (sync)
constexpr uint32_t kGetAltSetting = 0x220008;      // 1 byte out: current alternate setting (sync)
constexpr uint32_t kSetAltSetting = 0x22000C;      // 1 byte in: select alternate setting (sync)
constexpr uint32_t kGetAddress = 0x220010;         // 1 byte out: device address (sync)
constexpr uint32_t kSendEp0Control = 0x220020;     // transfer record in/out: control transfer
constexpr uint32_t kSendNonEp0Transfer = 0x220024; // transfer record in/out: buffered transfer
constexpr uint32_t kResetPipe = 0x22002C;          // 1 byte in: endpoint address
constexpr uint32_t kSetTransferSize = 0x220038;    // 5 bytes in/out: {address, size as u32}
constexpr uint32_t kGetFriendlyName = 0x22003C;    // 256 bytes out (sync)
constexpr uint32_t kGetDeviceName = 0x220040;      // 256 bytes out (sync)
constexpr uint32_t kAbortPipe = 0x220044;          // 1 byte in: endpoint address
constexpr uint32_t kSendNonEp0Direct = 0x22004B; // record in, caller's buffer out: direct transfer
constexpr uint32_t kGetDeviceSpeed = 0x22004C;   // 4 bytes out: 2 high speed, 4 SuperSpeed (sync)
// 1 byte out: 1 when the device streams only as fast as the host takes its samples (a simulated
// detector without a clock), 0 for a device with a clock of its own (sync). Drivers that do not
// know it refuse the request: such devices are taken to have their own clock.
constexpr uint32_t kGetPacing = 0x220050;

// Values of kGetDeviceSpeed.
constexpr uint32_t kSpeedFull = 1;
constexpr uint32_t kSpeedHigh = 2;
constexpr uint32_t kSpeedSuper = 4;

} // namespace zvusb::ioctl
