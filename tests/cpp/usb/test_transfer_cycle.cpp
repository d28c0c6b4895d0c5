// The begin / wait / finish cycle against a device that answers late, never, partly, or goes
// away in the middle.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "device_fixture.h"
#include "usb/cy_device.h"
#include "usb/system_errors.h"
#include "usb/usb_status.h"

using namespace zvusb;
using namespace zvtest;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSlots = 16;
constexpr uint32_t kPacket = 1024;
constexpr uint32_t kLength = 16 * kPacket;

class TransferCycleTest : public FakeDriverTest {
  protected:
    void SetUp() override {
        FakeDriverTest::SetUp();
        script = detector_script();
        driver.add("fake:1", script);
        device = std::make_unique<CCyDriverDevice>(nullptr, kTestClass, true);
        ASSERT_TRUE(device->is_open());
    }
    CCyIsocEndPoint *stream_endpoint() {
        EXPECT_TRUE(device->set_alt_setting(1));
        return dynamic_cast<CCyIsocEndPoint *>(device->endpoint(1));
    }

    struct Slot {
        std::vector<uint8_t> buffer = std::vector<uint8_t>(kLength);
        std::vector<IsoPacketInfo> packets = std::vector<IsoPacketInfo>(16);
        Event event;
        Overlapped ov;
        uint8_t *context = nullptr;
    };

    std::shared_ptr<FakeScript> script;
    std::unique_ptr<CCyDriverDevice> device;
};

TEST_F(TransferCycleTest, ControlRequestThatTimesOutAbortsPausesAndFails) {
    script->hold_control = true;
    CCyControlEndPoint *ep = device->control_endpoint();
    ep->request_type = 2;
    ep->direction = 1;
    ep->request_code = 0x30;
    ep->timeout_ms = 200;
    uint8_t identity[72];
    int32_t length = 72;
    const auto start = Clock::now();
    EXPECT_FALSE(ep->transfer_sync(identity, length));
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(250)) << "time-out, then the 50 ms pause";
    EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
    EXPECT_EQ(script->aborts, std::vector<uint8_t>{0});
    EXPECT_EQ(length, 0);
    EXPECT_EQ(ep->usb_status, kUsbStatusCanceled);
    EXPECT_EQ(script->outstanding, 0u) << "the cancelled request came back and was finished";

    // The endpoint stays usable for the next request.
    script->hold_control = false;
    script->vendor_in[0x30] = std::vector<uint8_t>(72, 9);
    length = 72;
    EXPECT_TRUE(ep->transfer_sync(identity, length));
    EXPECT_EQ(identity[71], 9);
}

TEST_F(TransferCycleTest, SixteenIsochronousTransfersReportEachPacket) {
    // Packet 3 of every transfer fails, packet 5 is short, packet 7 arrives empty.
    script->iso_fill = [](uint8_t *buffer, uint32_t, IsoPacketInfo *packets, uint32_t n,
                          uint32_t packet) {
        for (uint32_t k = 0; k < n; ++k) {
            packets[k] = IsoPacketInfo{0, packet};
            buffer[k * packet] = uint8_t(0x40 + k);
        }
        packets[3] = IsoPacketInfo{kUsbStatusCrc, 0};
        packets[5].length = 100;
        packets[7].length = 0;
    };
    CCyIsocEndPoint *ep = stream_endpoint();
    ASSERT_NE(ep, nullptr);
    ASSERT_TRUE(device->abort_transfers(ep));
    ASSERT_TRUE(device->reset_endpoint(ep));
    EXPECT_EQ(script->resets, std::vector<uint8_t>{0x83});
    ep->timeout_ms = 1000;
    ASSERT_TRUE(device->set_transfer_size(ep, kLength - 10));

    std::vector<Slot> slots(kSlots);
    for (Slot &s : slots) {
        s.ov.event = &s.event;
        s.context = ep->begin_transfer(s.buffer.data(), int32_t(kLength), &s.ov);
        ASSERT_NE(s.context, nullptr);
        EXPECT_EQ(ep->driver_status, 0u);
        EXPECT_EQ(ep->usb_status, 0u);
    }
    EXPECT_EQ(script->outstanding, size_t(kSlots)) << "all sixteen queued at once";
    for (Slot &s : slots) {
        ASSERT_TRUE(device->wait_for_transfer(&s.ov, 1500));
        int32_t length = int32_t(kLength);
        ASSERT_TRUE(
            ep->finish_transfer(s.buffer.data(), length, &s.ov, s.context, s.packets.data()));
        EXPECT_EQ(uint32_t(length), 13 * kPacket + 100);
        EXPECT_EQ(s.packets[0].length, kPacket);
        EXPECT_EQ(s.packets[3].status, kUsbStatusCrc);
        EXPECT_EQ(s.packets[5].length, 100u);
        EXPECT_EQ(s.packets[7].length, 0u);
        EXPECT_EQ(s.buffer[9 * kPacket], 0x49);
    }
    EXPECT_EQ(script->outstanding, 0u);
}

TEST_F(TransferCycleTest, UnplugInTheMiddleCompletesEveryTransferAndFailsTheNext) {
    script->hold_transfers = true;
    CCyIsocEndPoint *ep = stream_endpoint();
    ASSERT_NE(ep, nullptr);
    std::vector<Slot> slots(4);
    for (Slot &s : slots) {
        s.ov.event = &s.event;
        s.context = ep->begin_transfer(s.buffer.data(), int32_t(kLength), &s.ov);
        ASSERT_NE(s.context, nullptr);
    }
    EXPECT_FALSE(device->wait_for_transfer(&slots[0].ov, 20)) << "held by the device";
    driver.last_opened->unplug();
    for (Slot &s : slots) {
        ASSERT_TRUE(device->wait_for_transfer(&s.ov, 1000));
        int32_t length = int32_t(kLength);
        EXPECT_FALSE(
            ep->finish_transfer(s.buffer.data(), length, &s.ov, s.context, s.packets.data()));
        EXPECT_EQ(length, 0);
        EXPECT_EQ(ep->usb_status, kUsbStatusDeviceGone);
        EXPECT_EQ(ep->driver_status, uint32_t(kErrorDeviceNotConnected));
        EXPECT_EQ(ep->last_error, uint32_t(kErrorDeviceNotConnected));
    }
    // Resubmitting fails at once, with the status set so that the caller stops.
    Slot again;
    again.ov.event = &again.event;
    again.context = ep->begin_transfer(again.buffer.data(), int32_t(kLength), &again.ov);
    ASSERT_NE(again.context, nullptr);
    EXPECT_EQ(ep->last_error, uint32_t(kErrorDeviceNotConnected));
    EXPECT_NE(ep->driver_status, 0u);
    int32_t length = int32_t(kLength);
    EXPECT_FALSE(ep->finish_transfer(again.buffer.data(), length, &again.ov, again.context,
                                     again.packets.data()));
    // Control requests fail the same way instead of hanging.
    CCyControlEndPoint *control = device->control_endpoint();
    control->direction = 1;
    control->request_code = 0xCD;
    uint8_t state = 0;
    int32_t one = 1;
    const auto start = Clock::now();
    EXPECT_FALSE(control->transfer_sync(&state, one));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    device->close_device();
    EXPECT_EQ(script->outstanding, 0u);
}

TEST_F(TransferCycleTest, FinishBeforeTheTransferCameBackCancelsItFirst) {
    script->hold_transfers = true;
    CCyIsocEndPoint *ep = stream_endpoint();
    ASSERT_NE(ep, nullptr);
    Slot s;
    s.ov.event = &s.event;
    s.context = ep->begin_transfer(s.buffer.data(), int32_t(kLength), &s.ov);
    ASSERT_NE(s.context, nullptr);
    int32_t length = int32_t(kLength);
    EXPECT_FALSE(ep->finish_transfer(s.buffer.data(), length, &s.ov, s.context, s.packets.data()));
    EXPECT_EQ(script->aborts, std::vector<uint8_t>{0x83});
    EXPECT_EQ(script->outstanding, 0u) << "the driver gave the record back before it was freed";
    EXPECT_EQ(s.ov.status, uint32_t(kErrorOperationAborted));
}

TEST_F(TransferCycleTest, ClosingWithTransfersInFlightSignalsTheirEvents) {
    script->hold_transfers = true;
    CCyIsocEndPoint *ep = stream_endpoint();
    ASSERT_NE(ep, nullptr);
    std::vector<Slot> slots(3);
    for (Slot &s : slots) {
        s.ov.event = &s.event;
        s.context = ep->begin_transfer(s.buffer.data(), int32_t(kLength), &s.ov);
    }
    device->close_device();
    for (Slot &s : slots) {
        EXPECT_TRUE(s.event.wait(0));
        EXPECT_EQ(s.ov.status, uint32_t(kErrorOperationAborted));
        delete[] s.context; // the endpoint is gone with the device; the records are the caller's
    }
}

} // namespace
