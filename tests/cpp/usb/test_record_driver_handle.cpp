// The record handle: requests it refuses, driver queries, and what closing does to requests in
// flight.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fake_backend_device.h"
#include "spy_handle.h"
#include "usb/ioctl_codes.h"
#include "usb/record_driver_handle.h"
#include "usb/system_errors.h"
#include "usb/usb_status.h"

using namespace zvusb;
using namespace zvtest;

namespace {

struct HandleTest : ::testing::Test {
    HandleTest() : script(std::make_shared<FakeScript>()) {
        handle = std::make_unique<RecordDriverHandle>(std::make_unique<FakeBackendDevice>(script));
    }
    // Runs a record through the handle with an overlapped record; returns the error.
    uint32_t run(uint32_t code, std::vector<uint8_t> &record, uint8_t *out = nullptr,
                 uint32_t out_len = 0) {
        Event event;
        Overlapped ov;
        ov.event = &event;
        uint32_t returned = 0, error = 0;
        if (out == nullptr) {
            out = record.data();
            out_len = uint32_t(record.size());
        }
        bool ok = handle->io_control(code, record.data(), uint32_t(record.size()), out, out_len,
                                     &returned, &ov, &error);
        if (!ok && error == kErrorIoPending) {
            EXPECT_TRUE(event.wait(1000));
            return ov.status;
        }
        return ok ? 0 : error;
    }
    static std::vector<uint8_t> record(uint32_t extra, TransferRecord h) {
        std::vector<uint8_t> r(kRecordHeaderSize + extra, 0);
        std::memcpy(r.data(), &h, sizeof h);
        return r;
    }
    // A direct isochronous record on endpoint 0x83 with a table of `packets` entries.
    static std::vector<uint8_t> iso_record(uint32_t packets) {
        TransferRecord h = {};
        h.endpoint_address = 0x83;
        h.packet_table_offset = kRecordHeaderSize;
        h.packet_table_length = packets * uint32_t(sizeof(IsoPacketInfo));
        return record(h.packet_table_length, h);
    }
    std::shared_ptr<FakeScript> script;
    std::unique_ptr<RecordDriverHandle> handle;
};

TEST_F(HandleTest, RecordsThatDoNotFitTheirBuffersAreRefusedBeforeTheDevice) {
    struct Case {
        const char *what;
        uint32_t code;
        uint32_t extra;
        TransferRecord h;
    } cases[] = {
        {"data past the end",
         ioctl::kSendEp0Control,
         8,
         {0xC0, 0x30, 0, 0, 8, 1, 0, 0, 0, 0, 0, 0, 38, 9}},
        {"wLength beyond the data area",
         ioctl::kSendEp0Control,
         8,
         {0xC0, 0x30, 0, 0, 9, 1, 0, 0, 0, 0, 0, 0, 38, 8}},
        {"data over the header",
         ioctl::kSendEp0Control,
         8,
         {0xC0, 0x30, 0, 0, 8, 1, 0, 0, 0, 0, 0, 0, 30, 8}},
        {"offset wraps around",
         ioctl::kSendEp0Control,
         8,
         {0xC0, 0x30, 0, 0, 8, 1, 0, 0, 0, 0, 0, 0, 0xFFFFFFF0u, 0x20}},
        {"table not whole entries",
         ioctl::kSendNonEp0Transfer,
         12,
         {0, 0, 0, 0, 0, 0, 0, 0x83, 0, 0, 38, 12, 0, 0}},
        {"table past the end",
         ioctl::kSendNonEp0Transfer,
         16,
         {0, 0, 0, 0, 0, 0, 0, 0x83, 0, 0, 38, 24, 0, 0}},
        {"table and data overlap",
         ioctl::kSendNonEp0Transfer,
         64,
         {0, 0, 0, 0, 0, 0, 0, 0x83, 0, 0, 38, 16, 46, 32}},
        {"endpoint 0 as data endpoint",
         ioctl::kSendNonEp0Transfer,
         16,
         {0, 0, 0, 0, 0, 0, 0, 0x00, 0, 0, 0, 0, 38, 16}},
        {"direct table past the record",
         ioctl::kSendNonEp0Direct,
         8,
         {0, 0, 0, 0, 0, 0, 0, 0x83, 0, 0, 38, 16, 0, 0}},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> r = record(c.extra, c.h);
        uint8_t out[64];
        uint32_t error =
            c.code == ioctl::kSendNonEp0Direct ? run(c.code, r, out, sizeof out) : run(c.code, r);
        EXPECT_EQ(error, uint32_t(kErrorInvalidParameter)) << c.what;
    }
    std::vector<uint8_t> short_record(20, 0);
    EXPECT_EQ(run(ioctl::kSendEp0Control, short_record), uint32_t(kErrorInvalidParameter));
    EXPECT_TRUE(script->controls.empty());
    EXPECT_TRUE(script->transfers.empty());
    EXPECT_EQ(handle->in_flight(), 0u);
}

TEST_F(HandleTest, BackendByteCountIsBoundedByTheDataArea) {
    // A backend claiming more bytes than asked for cannot push the count past the record.
    script->iso_fill = [](uint8_t *, uint32_t, IsoPacketInfo *packets, uint32_t n, uint32_t) {
        for (uint32_t k = 0; k < n; ++k)
            packets[k] = IsoPacketInfo{0, 5000};
    };
    std::vector<uint8_t> r = iso_record(2);
    std::vector<uint8_t> out(2048);
    Event event;
    Overlapped ov;
    ov.event = &event;
    uint32_t returned = 0, error = 0;
    handle->io_control(ioctl::kSendNonEp0Direct, r.data(), uint32_t(r.size()), out.data(), 2048,
                       &returned, &ov, &error);
    ASSERT_TRUE(event.wait(1000));
    EXPECT_EQ(ov.bytes, 2048u);
}

TEST_F(HandleTest, DriverQueriesAnswerWithTheirFixedSizes) {
    uint32_t returned = 0, error = 0;
    uint32_t value = 0;
    ASSERT_TRUE(handle->io_control(ioctl::kGetDeviceSpeed, &value, 4, &value, 4, &returned, nullptr,
                                   &error));
    EXPECT_EQ(value, 2u);
    EXPECT_EQ(returned, 4u);
    uint8_t byte = 0xFF;
    ASSERT_TRUE(
        handle->io_control(ioctl::kGetAddress, &byte, 1, &byte, 1, &returned, nullptr, &error));
    EXPECT_EQ(byte, 7);
    char name[256];
    std::memset(name, 'x', sizeof name);
    ASSERT_TRUE(handle->io_control(ioctl::kGetFriendlyName, name, 256, name, 256, &returned,
                                   nullptr, &error));
    EXPECT_STREQ(name, "fake detector");
    EXPECT_EQ(returned, 256u);
    uint8_t alt = 1;
    ASSERT_TRUE(
        handle->io_control(ioctl::kSetAltSetting, &alt, 1, &alt, 1, &returned, nullptr, &error));
    EXPECT_EQ(script->alt, 1);
    alt = 9;
    EXPECT_FALSE(
        handle->io_control(ioctl::kSetAltSetting, &alt, 1, &alt, 1, &returned, nullptr, &error));
    EXPECT_EQ(error, uint32_t(kErrorGenFailure));
    EXPECT_FALSE(handle->io_control(ioctl::kGetDriverVersion, &value, 3, &value, 3, &returned,
                                    nullptr, &error));
    EXPECT_EQ(error, uint32_t(kErrorInvalidParameter));
    EXPECT_FALSE(handle->io_control(0x220099, &value, 4, &value, 4, &returned, nullptr, &error));
    EXPECT_EQ(error, uint32_t(kErrorNotSupported));
}

TEST_F(HandleTest, TransferWithoutOverlappedRecordWaitsForItself) {
    script->vendor_in[0x30] = std::vector<uint8_t>(72, 0x5A);
    TransferRecord h = {};
    h.bmRequestType = 0xC0;
    h.bRequest = 0x30;
    h.wLength = 72;
    h.timeout_s = 1;
    h.data_offset = 38;
    h.data_length = 72;
    std::vector<uint8_t> r = record(72, h);
    uint32_t returned = 0, error = 0;
    ASSERT_TRUE(handle->io_control(ioctl::kSendEp0Control, r.data(), 110, r.data(), 110, &returned,
                                   nullptr, &error));
    EXPECT_EQ(returned, 110u);
    EXPECT_EQ(r[38 + 71], 0x5A);
    EXPECT_GT(script->pumps, 0);
}

TEST_F(HandleTest, ClosingCompletesEveryRequestInFlightAndSignalsItsEvent) {
    script->hold_transfers = true;
    std::vector<Event> events(3);
    std::vector<Overlapped> ovs(3);
    std::vector<std::vector<uint8_t>> records;
    std::vector<uint8_t> out(3 * 1024);
    for (int i = 0; i < 3; ++i) {
        records.push_back(iso_record(1));
        ovs[i].event = &events[i];
        uint32_t returned = 0, error = 0;
        EXPECT_FALSE(handle->io_control(ioctl::kSendNonEp0Direct, records[i].data(), 46,
                                        out.data() + i * 1024, 1024, &returned, &ovs[i], &error));
        EXPECT_EQ(error, uint32_t(kErrorIoPending));
    }
    EXPECT_EQ(handle->in_flight(), 3u);
    handle.reset();
    EXPECT_TRUE(script->destroyed);
    EXPECT_EQ(script->outstanding, 0u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ovs[i].status, uint32_t(kErrorOperationAborted));
        // Signalled, and no pump left behind: this wait must not reach the destroyed backend.
        EXPECT_TRUE(events[i].wait(0));
        EXPECT_FALSE(events[i].wait(1));
        RecordFields h = fields_of(records[i].data());
        EXPECT_EQ(h.usb_status, kUsbStatusCanceled);
        EXPECT_EQ(h.driver_status, uint32_t(kErrorOperationAborted));
    }
}

TEST_F(HandleTest, AbortPipeReturnsOnceTheCancelledTransfersCameBack) {
    script->hold_transfers = true;
    std::vector<uint8_t> r = iso_record(1);
    std::vector<uint8_t> out(1024);
    Event event;
    Overlapped ov;
    ov.event = &event;
    uint32_t returned = 0, error = 0;
    handle->io_control(ioctl::kSendNonEp0Direct, r.data(), 46, out.data(), 1024, &returned, &ov,
                       &error);
    uint8_t ep = 0x83;
    EXPECT_TRUE(
        handle->io_control(ioctl::kAbortPipe, &ep, 1, nullptr, 0, &returned, nullptr, &error));
    EXPECT_EQ(handle->in_flight(), 0u);
    EXPECT_EQ(ov.status, uint32_t(kErrorOperationAborted));
    EXPECT_TRUE(event.wait(0));
    EXPECT_EQ(script->aborts, std::vector<uint8_t>{0x83});
}

} // namespace
