// Numbers fixed by the USB standard itself, shared by the host transport and the simulated
// detector's firmware (which otherwise knows nothing of the transport).
#pragma once

#include <cstdint>

namespace usb_standard {

namespace descriptor_type {
constexpr uint8_t kDevice = 1;
constexpr uint8_t kConfiguration = 2;
constexpr uint8_t kString = 3;
constexpr uint8_t kInterface = 4;
constexpr uint8_t kEndpoint = 5;
constexpr uint8_t kBos = 15;
constexpr uint8_t kDeviceCapability = 16;
constexpr uint8_t kSuperSpeedCompanion = 48;
} // namespace descriptor_type

} // namespace usb_standard
