// Driver interface classes searched by the library, in this order. On this platform the first
// class lists real detectors (the libusb backend) and the second simulated ones, so a real
// detector is always found before a simulated one.
#pragma once

#include <cstdint>

namespace zvusb {

struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

inline bool operator==(const Guid &a, const Guid &b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.data4[i] != b.data4[i]) return false;
    return true;
}

// {AE18AA60-7F6A-11D4-97DD-00010229B959}
constexpr Guid kInterfaceClassPrimary = {
    0xAE18AA60, 0x7F6A, 0x11D4, {0x97, 0xDD, 0x00, 0x01, 0x02, 0x29, 0xB9, 0x59}};
// {C108E28B-C8A5-45BD-8210-DEAD5B78663E}
constexpr Guid kInterfaceClassSecondary = {
    0xC108E28B, 0xC8A5, 0x45BD, {0x82, 0x10, 0xDE, 0xAD, 0x5B, 0x78, 0x66, 0x3E}};

constexpr Guid kInterfaceClasses[] = {kInterfaceClassPrimary, kInterfaceClassSecondary};

} // namespace zvusb
