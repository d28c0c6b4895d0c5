// Transfer records as the endpoints build them, and the begin / finish rules.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "transport_fixture.h"
#include "usb/cy_endpoint.h"
#include "usb/ioctl_codes.h"
#include "usb/system_errors.h"
#include "usb/usb_status.h"

using namespace zvusb;
using namespace zvtest;

namespace {

class RecordTest : public TransportTest {};

std::vector<uint8_t> identity_block() {
    std::vector<uint8_t> b(72);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = uint8_t(i * 3 + 1);
    return b;
}

TEST_F(RecordTest, ControlInOf72BytesUsesA110ByteRecordAndReturnsTheData) {
    script->vendor_in[0x30] = identity_block();
    CCyControlEndPoint ep(spy.get(), 64);
    ep.direction = 1;
    ep.request_code = 0x30;
    ep.timeout_ms = 1000;
    std::vector<uint8_t> buffer(72, 0);
    int32_t length = 72;

    ASSERT_TRUE(ep.transfer_sync(buffer.data(), length));

    ASSERT_EQ(spy->requests.size(), 1u);
    const SpiedRequest &r = spy->requests[0];
    EXPECT_EQ(r.code, ioctl::kSendEp0Control);
    EXPECT_EQ(r.in_len, 110u);
    EXPECT_EQ(r.out_len, 110u);
    EXPECT_TRUE(r.same_buffer);
    EXPECT_EQ(r.header.bmRequestType, 0xC0);
    EXPECT_EQ(r.header.bRequest, 0x30);
    EXPECT_EQ(r.header.wLength, 72);
    EXPECT_EQ(r.header.timeout_s, 1u);
    EXPECT_EQ(r.header.endpoint_address, 0);
    EXPECT_EQ(r.header.data_offset, 38u);
    EXPECT_EQ(r.header.data_length, 72u);
    EXPECT_EQ(length, 72);
    EXPECT_EQ(ep.bytes_transferred, 72u);
    EXPECT_EQ(buffer, identity_block());
}

TEST_F(RecordTest, ControlOutCarriesItsDataBehindTheHeader) {
    CCyControlEndPoint ep(spy.get(), 64);
    ep.direction = 0;
    ep.request_code = 0xC8;
    ep.value = 3;
    ep.index = 5;
    uint8_t command[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    int32_t length = 10;
    ASSERT_TRUE(ep.transfer_sync(command, length));
    EXPECT_EQ(spy->requests[0].header.bmRequestType, 0x40);
    EXPECT_EQ(spy->requests[0].header.wValue, 3);
    EXPECT_EQ(spy->requests[0].header.wIndex, 5);
    ASSERT_EQ(script->control_out_data.size(), 1u);
    EXPECT_EQ(script->control_out_data[0], std::vector<uint8_t>(command, command + 10));
    EXPECT_FALSE(ep.direction_in);
}

TEST_F(RecordTest, ControlTimeOutFieldIsInWholeSecondsWithAtLeastOneForShortTimeOuts) {
    struct Case {
        uint32_t ms, seconds;
    } cases[] = {{0, 0}, {1, 1}, {999, 1}, {1000, 1}, {1999, 1}, {2500, 2}, {10000, 10}};
    CCyControlEndPoint ep(spy.get(), 64);
    ep.request_code = 0x21;
    for (const Case &c : cases) {
        ep.timeout_ms = c.ms;
        Event event;
        Overlapped ov;
        ov.event = &event;
        uint8_t *context = ep.begin_transfer(nullptr, 0, &ov);
        ASSERT_NE(context, nullptr);
        EXPECT_EQ(spy->requests.back().header.timeout_s, c.seconds) << c.ms << " ms";
        ASSERT_TRUE(ep.wait_for_transfer(&ov, 1000));
        int32_t length = 0;
        EXPECT_TRUE(ep.finish_transfer(nullptr, length, &ov, context));
    }
}

TEST_F(RecordTest, ControlLongerThanAWordOfLengthIsRefused) {
    CCyControlEndPoint ep(spy.get(), 64);
    std::vector<uint8_t> buffer(70000);
    Event event;
    Overlapped ov;
    ov.event = &event;
    EXPECT_EQ(ep.begin_transfer(buffer.data(), 70000, &ov), nullptr);
    EXPECT_TRUE(spy->requests.empty());
}

TEST_F(RecordTest, DirectIsochronousBeginOf16PacketsBuildsA166ByteRecord) {
    CCyIsocEndPoint ep(spy.get(), iso_in(0x83, 1024));
    std::vector<uint8_t> buffer(16 * 1024);
    std::vector<IsoPacketInfo> packets(16);
    Event event;
    Overlapped ov;
    ov.event = &event;

    uint8_t *context = ep.begin_transfer(buffer.data(), 16 * 1024, &ov);
    ASSERT_NE(context, nullptr);
    const SpiedRequest &r = spy->requests.at(0);
    EXPECT_EQ(r.code, ioctl::kSendNonEp0Direct);
    EXPECT_EQ(r.in_len, 166u);
    EXPECT_EQ(r.out_len, 16u * 1024);
    EXPECT_FALSE(r.same_buffer);
    EXPECT_EQ(r.header.endpoint_address, 0x83);
    EXPECT_EQ(r.header.packet_table_offset, 38u);
    EXPECT_EQ(r.header.packet_table_length, 128u);
    EXPECT_EQ(r.header.data_offset, 0u);
    EXPECT_EQ(r.header.data_length, 0u);
    EXPECT_EQ(ep.last_error, uint32_t(kErrorIoPending));

    ASSERT_TRUE(ep.wait_for_transfer(&ov, 1000));
    int32_t length = 16 * 1024;
    ASSERT_TRUE(ep.finish_transfer(buffer.data(), length, &ov, context, packets.data()));
    EXPECT_EQ(length, 16 * 1024);
    for (uint32_t k = 0; k < 16; ++k) {
        EXPECT_EQ(packets[k].status, 0u);
        EXPECT_EQ(packets[k].length, 1024u);
        EXPECT_EQ(buffer[k * 1024 + 17], k) << "packet " << k << " lands at k * P";
    }
    ASSERT_EQ(script->transfers.size(), 1u);
    EXPECT_EQ(script->transfers[0].npackets, 16u);
    EXPECT_EQ(script->transfers[0].max_packet_size, 1024u);
}

TEST_F(RecordTest, BufferedIsochronousRecordCarriesTableAndDataAndCopiesBoth) {
    CCyIsocEndPoint ep(spy.get(), iso_in(0x83, 512));
    ep.transfer_mode = kXferBuffered;
    std::vector<uint8_t> buffer(4 * 512, 0);
    std::vector<IsoPacketInfo> packets(4);
    Event event;
    Overlapped ov;
    ov.event = &event;
    uint8_t *context = ep.begin_transfer(buffer.data(), 4 * 512, &ov);
    ASSERT_NE(context, nullptr);
    const SpiedRequest &r = spy->requests.at(0);
    EXPECT_EQ(r.code, ioctl::kSendNonEp0Transfer);
    EXPECT_EQ(r.in_len, 38u + 32u + 2048u);
    EXPECT_TRUE(r.same_buffer);
    EXPECT_EQ(r.header.data_offset, 38u + 32u);
    EXPECT_EQ(r.header.data_length, 2048u);
    ASSERT_TRUE(ep.wait_for_transfer(&ov, 1000));
    int32_t length = 2048;
    ASSERT_TRUE(ep.finish_transfer(buffer.data(), length, &ov, context, packets.data()));
    EXPECT_EQ(length, 2048);
    EXPECT_EQ(buffer[3 * 512 + 5], 3);
    EXPECT_EQ(packets[2].length, 512u);
}

TEST_F(RecordTest, FinishWithZeroBytesReportsZeroAndLeavesThePacketTableAlone) {
    script->iso_fill = [](uint8_t *, uint32_t, IsoPacketInfo *packets, uint32_t n, uint32_t) {
        for (uint32_t k = 0; k < n; ++k)
            packets[k] = IsoPacketInfo{kUsbStatusIsoNotAccessed, 0};
    };
    CCyIsocEndPoint ep(spy.get(), iso_in(0x83, 1024));
    std::vector<uint8_t> buffer(16 * 1024);
    std::vector<IsoPacketInfo> packets(16, IsoPacketInfo{0xEEEEEEEE, 0xEEEEEEEE});
    Event event;
    Overlapped ov;
    ov.event = &event;
    uint8_t *context = ep.begin_transfer(buffer.data(), 16 * 1024, &ov);
    ASSERT_TRUE(ep.wait_for_transfer(&ov, 1000));
    int32_t length = 16 * 1024;
    EXPECT_TRUE(ep.finish_transfer(buffer.data(), length, &ov, context, packets.data()));
    EXPECT_EQ(length, 0);
    EXPECT_EQ(ep.bytes_transferred, 0u);
    for (const IsoPacketInfo &p : packets) {
        EXPECT_EQ(p.status, 0xEEEEEEEEu);
        EXPECT_EQ(p.length, 0xEEEEEEEEu);
    }
}

TEST_F(RecordTest, IsochronousBeginWithoutPacketsStartsNothing) {
    CCyIsocEndPoint zero_packet(spy.get(), iso_in(0x83, 0));
    CCyIsocEndPoint ep(spy.get(), iso_in(0x83, 1024));
    uint8_t buffer[1024];
    Event event;
    Overlapped ov;
    ov.event = &event;
    EXPECT_EQ(zero_packet.begin_transfer(buffer, 1024, &ov), nullptr);
    EXPECT_EQ(ep.begin_transfer(buffer, 0, &ov), nullptr);
    EXPECT_TRUE(spy->requests.empty());
}

TEST_F(RecordTest, PartialLastPacketGetsItsOwnTableEntry) {
    script->packet_size = 1024; // the backend knows the endpoint's packet size
    CCyIsocEndPoint ep(spy.get(), iso_in(0x83, 1024));
    std::vector<uint8_t> buffer(2500);
    std::vector<IsoPacketInfo> packets(3);
    Event event;
    Overlapped ov;
    ov.event = &event;
    uint8_t *context = ep.begin_transfer(buffer.data(), 2500, &ov);
    EXPECT_EQ(spy->requests.at(0).header.packet_table_length, 24u);
    ASSERT_TRUE(ep.wait_for_transfer(&ov, 1000));
    int32_t length = 2500;
    ASSERT_TRUE(ep.finish_transfer(buffer.data(), length, &ov, context, packets.data()));
    EXPECT_EQ(length, 2500);
    EXPECT_EQ(packets[2].length, 2500u - 2048u);
}

TEST_F(RecordTest, BulkRecordsUseTheHeaderAloneOrCarryTheData) {
    EndpointDescriptor d;
    d.bEndpointAddress = 0x81;
    d.bmAttributes = 2;
    d.wMaxPacketSize = 512;
    CCyBulkEndPoint ep(spy.get(), d);
    std::vector<uint8_t> buffer(1000, 0);
    for (uint8_t mode : {kXferDirect, kXferBuffered}) {
        ep.transfer_mode = mode;
        std::fill(buffer.begin(), buffer.end(), 0);
        Event event;
        Overlapped ov;
        ov.event = &event;
        uint8_t *context = ep.begin_transfer(buffer.data(), 1000, &ov);
        ASSERT_NE(context, nullptr);
        const SpiedRequest &r = spy->requests.back();
        if (mode == kXferDirect) {
            EXPECT_EQ(r.code, ioctl::kSendNonEp0Direct);
            EXPECT_EQ(r.in_len, 38u);
            EXPECT_EQ(r.header.data_offset, 0u);
            EXPECT_EQ(r.header.packet_table_length, 0u);
        } else {
            EXPECT_EQ(r.code, ioctl::kSendNonEp0Transfer);
            EXPECT_EQ(r.in_len, 1038u);
            EXPECT_EQ(r.header.data_offset, 38u);
            EXPECT_EQ(r.header.data_length, 1000u);
        }
        ASSERT_TRUE(ep.wait_for_transfer(&ov, 1000));
        int32_t length = 1000;
        ASSERT_TRUE(ep.finish_transfer(buffer.data(), length, &ov, context));
        EXPECT_EQ(length, 1000);
        EXPECT_EQ(buffer[999], 0xA5);
    }
    EXPECT_EQ(script->transfers.at(0).npackets, 0u);
}

TEST_F(RecordTest, StalledControlRequestFailsWithTheUsbStatus) {
    CCyControlEndPoint ep(spy.get(), 64);
    ep.direction = 1;
    ep.request_code = 0x77; // not scripted: the fake stalls it
    uint8_t buffer[4];
    int32_t length = 4;
    EXPECT_FALSE(ep.transfer_sync(buffer, length));
    EXPECT_EQ(length, 0);
    EXPECT_EQ(ep.usb_status, kUsbStatusStall);
    EXPECT_NE(ep.driver_status, 0u);
}

TEST_F(RecordTest, RequestCompletedInsideTheCallSignalsAndLeavesNoError) {
    script->complete_in_call = true;
    script->vendor_in[0xCD] = {1};
    CCyControlEndPoint ep(spy.get(), 64);
    ep.direction = 1;
    ep.request_code = 0xCD;
    Event event;
    Overlapped ov;
    ov.event = &event;
    uint8_t state = 0;
    uint8_t *context = ep.begin_transfer(&state, 1, &ov);
    EXPECT_EQ(ep.last_error, 0u);
    EXPECT_TRUE(event.wait(0));
    int32_t length = 1;
    EXPECT_TRUE(ep.finish_transfer(&state, length, &ov, context));
    EXPECT_EQ(state, 1);
    EXPECT_EQ(script->pumps, 0);
}

} // namespace
