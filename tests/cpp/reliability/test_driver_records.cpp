// A driver hands back transfer records with any header: finish_transfer must collect the data and
// packet table from where the endpoint put them, never from offsets or lengths the driver wrote.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "usb/cy_endpoint.h"
#include "usb/ioctl_codes.h"
#include "usb/system_errors.h"

namespace {

using namespace zvusb;

// Completes every transfer at once: fills the data and packet table, then scribbles over the
// record's layout fields.
class ScribblingDriver : public DriverHandle {
  public:
    bool io_control(uint32_t code, void *in, uint32_t in_len, void *out, uint32_t out_len,
                    uint32_t *returned, Overlapped *ov, uint32_t *error) override {
        auto *record = static_cast<uint8_t *>(in);
        TransferRecord h;
        std::memcpy(&h, record, sizeof h);
        uint8_t *data =
            code == ioctl::kSendNonEp0Direct ? static_cast<uint8_t *>(out) : record + h.data_offset;
        const uint32_t length = code == ioctl::kSendNonEp0Direct ? out_len : h.data_length;
        for (uint32_t i = 0; i < length; ++i)
            data[i] = uint8_t(i * 7);
        for (uint32_t k = 0; k < h.packet_table_length / sizeof(IsoPacketInfo); ++k) {
            const IsoPacketInfo p{0, 1000 + k};
            std::memcpy(record + h.packet_table_offset + k * sizeof p, &p, sizeof p);
        }
        const uint32_t bytes = h.data_offset + length;
        h.packet_table_offset = 3;
        h.packet_table_length = 1u << 30;
        h.data_offset = 1;
        h.data_length = 1u << 30;
        std::memcpy(record, &h, sizeof h);
        (void)in_len;
        ov->status = kErrorSuccess;
        ov->bytes = bytes;
        ov->event->set();
        *returned = bytes;
        *error = kErrorSuccess;
        return true;
    }
};

struct Transfer {
    Event event;
    Overlapped ov;
    Transfer() { ov.event = &event; }
};

TEST(DriverRecords, IsochronousFinishTakesTheTableItBuilt) {
    ScribblingDriver driver;
    EndpointDescriptor d;
    d.bEndpointAddress = 0x83;
    d.bmAttributes = 1;
    d.wMaxPacketSize = 1024;
    CCyIsocEndPoint ep(&driver, d);
    for (uint8_t mode : {kXferDirect, kXferBuffered}) {
        ep.transfer_mode = mode;
        std::vector<uint8_t> buffer(16 * 1024);
        std::unique_ptr<IsoPacketInfo[]> packets(new IsoPacketInfo[16]);
        Transfer t;
        uint8_t *context = ep.begin_transfer(buffer.data(), int32_t(buffer.size()), &t.ov);
        ASSERT_NE(context, nullptr);
        int32_t length = int32_t(buffer.size());
        EXPECT_TRUE(ep.finish_transfer(buffer.data(), length, &t.ov, context, packets.get()));
        EXPECT_EQ(length, 16 * 1024);
        for (uint32_t k = 0; k < 16; ++k)
            EXPECT_EQ(packets[k].length, 1000 + k);
        EXPECT_EQ(buffer[5], 35);
        EXPECT_EQ(buffer[16 * 1024 - 1], uint8_t((16 * 1024 - 1) * 7));
    }
}

TEST(DriverRecords, ControlFinishTakesTheDataWhereItPutIt) {
    ScribblingDriver driver;
    CCyControlEndPoint ep(&driver, 512);
    ep.direction = 1;
    std::vector<uint8_t> buffer(72);
    Transfer t;
    uint8_t *context = ep.begin_transfer(buffer.data(), int32_t(buffer.size()), &t.ov);
    ASSERT_NE(context, nullptr);
    int32_t length = 72;
    EXPECT_TRUE(ep.finish_transfer(buffer.data(), length, &t.ov, context));
    EXPECT_EQ(length, 72);
    EXPECT_EQ(buffer[1], 7);
    EXPECT_EQ(buffer[71], uint8_t(71 * 7));
}

} // namespace
