// The transfer record exchanged with the driver for every transfer: a packed 38-byte header,
// optionally followed by a packet table (isochronous endpoints) and data (buffered transfers).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zvusb {

#pragma pack(push, 1)
struct TransferRecord {
    uint8_t bmRequestType; // control transfers
    uint8_t bRequest;
    uint16_t wValue;
    uint16_t wIndex;
    uint16_t wLength;
    uint32_t timeout_s; // control transfers, in seconds
    uint8_t reserved;
    uint8_t endpoint_address;
    uint32_t driver_status; // written by the driver
    uint32_t usb_status;    // written by the driver
    uint32_t packet_table_offset;
    uint32_t packet_table_length;
    uint32_t data_offset;
    uint32_t data_length;
};

// One entry per isochronous packet; data of packet k starts at byte k * max packet size.
struct IsoPacketInfo {
    uint32_t status; // 0 = good
    uint32_t length; // bytes received in this packet
};
#pragma pack(pop)

static_assert(sizeof(TransferRecord) == 38, "transfer record header is 38 bytes");
static_assert(offsetof(TransferRecord, driver_status) == 14, "driver status at offset 14");
static_assert(offsetof(TransferRecord, data_length) == 34, "data length at offset 34");
static_assert(sizeof(IsoPacketInfo) == 8, "packet table entry is 8 bytes");

constexpr uint32_t kRecordHeaderSize = sizeof(TransferRecord);

} // namespace zvusb
