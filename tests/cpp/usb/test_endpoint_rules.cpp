// Endpoint fields built from descriptors: the maximum packet size rule and the transfer size.
#include <gtest/gtest.h>

#include <cstring>

#include "usb/cy_endpoint.h"
#include "usb/driver.h"
#include "usb/ioctl_codes.h"

using namespace zvusb;

namespace {

EndpointDescriptor endpoint(uint8_t attributes, uint16_t max_packet) {
    EndpointDescriptor d;
    d.bEndpointAddress = 0x83;
    d.bmAttributes = attributes;
    d.wMaxPacketSize = max_packet;
    return d;
}

EndpointDescriptor with_companion(EndpointDescriptor d, uint8_t burst, uint8_t attributes) {
    d.has_companion = true;
    d.ss_bLength = 6;
    d.ss_bDescriptorType = 48;
    d.ss_bMaxBurst = burst;
    d.ss_bmAttributes = attributes;
    return d;
}

TEST(MaxPacketSize, HighBandwidthMultiplierWithoutCompanion) {
    struct Case {
        uint16_t w;
        uint32_t size;
        uint16_t per_frame;
    } cases[] = {{0x0040, 64, 1},   {0x0400, 1024, 1}, {0x0C00, 2048, 2}, {0x1400, 3072, 3},
                 {0x13FF, 3069, 3}, {0xE400, 1024, 1}, {0x07FF, 2047, 1}};
    for (const Case &c : cases) {
        EndpointDescriptor d = endpoint(1, c.w);
        EXPECT_EQ(max_packet_size_of(d), c.size) << std::hex << c.w;
        CCyIsocEndPoint ep(nullptr, d);
        EXPECT_EQ(ep.max_packet_size, c.size);
        EXPECT_EQ(ep.packets_per_frame, c.per_frame);
    }
}

TEST(MaxPacketSize, CompanionMultipliesByBurstAndForIsochronousByMult) {
    EXPECT_EQ(max_packet_size_of(with_companion(endpoint(1, 1024), 0, 0)), 1024u);
    EXPECT_EQ(max_packet_size_of(with_companion(endpoint(1, 1024), 3, 1)), 1024u * 4 * 2);
    EXPECT_EQ(max_packet_size_of(with_companion(endpoint(1, 1024), 15, 2)), 1024u * 16 * 3);
    // Bulk and interrupt endpoints take the burst only: their attribute bits mean streams.
    EXPECT_EQ(max_packet_size_of(with_companion(endpoint(2, 1024), 15, 2)), 1024u * 16);
    EXPECT_EQ(max_packet_size_of(with_companion(endpoint(3, 1024), 1, 1)), 1024u * 2);
    CCyIsocEndPoint ep(nullptr, with_companion(endpoint(1, 1024), 15, 2));
    EXPECT_EQ(ep.max_packet_size, 49152);
    EXPECT_EQ(ep.ss_max_burst, 15);
    EXPECT_EQ(ep.ss_descriptor_type, 48);
}

TEST(EndpointFields, DescriptorFieldsAndDefaults) {
    EndpointDescriptor d = endpoint(1, 1024);
    d.bInterval = 4;
    CCyIsocEndPoint in(nullptr, d);
    EXPECT_EQ(in.address, 0x83);
    EXPECT_TRUE(in.direction_in);
    EXPECT_EQ(in.interval, 4);
    EXPECT_EQ(in.timeout_ms, 10000u);
    EXPECT_EQ(in.transfer_mode, kXferDirect);
    d.bEndpointAddress = 0x02;
    CCyBulkEndPoint out(nullptr, d);
    EXPECT_FALSE(out.direction_in);
    CCyControlEndPoint control(nullptr, 64);
    EXPECT_EQ(control.address, 0);
    EXPECT_EQ(control.max_packet_size, 64);
    EXPECT_EQ(control.descriptor_length, 7);
    EXPECT_EQ(control.descriptor_type, 5);
    EXPECT_EQ(control.transfer_mode, kXferBuffered);
    EXPECT_EQ(control.request_type, 2);
    EXPECT_EQ(control.target, 0);
}

TEST(TransferSizeRequest, CarriesAddressAndRoundedSize) {
    struct Capture : DriverHandle {
        uint8_t bytes[5] = {};
        bool io_control(uint32_t, void *in, uint32_t in_len, void *, uint32_t, uint32_t *returned,
                        Overlapped *, uint32_t *) override {
            std::memcpy(bytes, in, in_len < 5 ? in_len : 5);
            *returned = 5;
            return true;
        }
    } capture;
    CCyIsocEndPoint ep(&capture, endpoint(1, 1024));
    struct Case {
        uint32_t asked, sent;
    } cases[] = {{16384, 16384}, {16000, 16384}, {1, 1024}, {0, 0}, {16385, 17408}};
    for (const Case &c : cases) {
        ASSERT_TRUE(ep.set_transfer_size(c.asked));
        uint32_t size;
        std::memcpy(&size, capture.bytes + 1, 4);
        EXPECT_EQ(capture.bytes[0], 0x83);
        EXPECT_EQ(size, c.sent) << c.asked;
    }
}

} // namespace
