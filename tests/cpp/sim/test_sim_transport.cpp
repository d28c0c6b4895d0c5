// A simulated detector reached through the transport exactly as a real one: the simulator
// driver of the second interface class, the record handle and CCyDriverDevice.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "sim/sim_backend_device.h"
#include "sim/simulator.h"
#include "usb/cy_device.h"
#include "usb/system_errors.h"
#include "usb/usb_status.h"

namespace zvsim {
namespace {

using zvusb::CCyDriverDevice;
using zvusb::CCyIsocEndPoint;
using zvusb::CCyUSBEndPoint;
using zvusb::Event;
using zvusb::IsoPacketInfo;
using zvusb::Overlapped;

class SimTransport : public ::testing::Test {
  protected:
    void SetUp() override { detach_all(); }
    void TearDown() override {
        device.close_device();
        detach_all();
    }

    // Attaches a detector and opens it (the only one of the class).
    std::shared_ptr<SimulatedDetector> open(const DetectorConfig &config = DetectorConfig()) {
        auto sim = attach(config);
        EXPECT_EQ(device.device_count(), 1);
        EXPECT_TRUE(device.open_device(0));
        return sim;
    }

    // A vendor IN request through the control endpoint.
    bool vendor_in(uint8_t request, uint16_t index, std::vector<uint8_t> &data) {
        auto *ep = device.control_endpoint();
        ep->target = 0;
        ep->request_type = 2;
        ep->direction = 1;
        ep->request_code = request;
        ep->value = 0;
        ep->index = index;
        ep->timeout_ms = 1000;
        int32_t length = int32_t(data.size());
        bool ok = ep->transfer_sync(data.data(), length);
        data.resize(size_t(std::max(length, 0)));
        return ok;
    }

    CCyUSBEndPoint *stream_endpoint() {
        EXPECT_TRUE(device.set_alt_setting(1));
        EXPECT_EQ(device.endpoint_count(), 2);
        return device.endpoint(1);
    }

    struct Slot {
        std::vector<uint8_t> buffer;
        std::vector<IsoPacketInfo> packets{16};
        Event event;
        Overlapped ov;
        uint8_t *context = nullptr;
    };

    void begin(CCyUSBEndPoint *ep, Slot &slot) {
        slot.buffer.assign(16u * ep->max_packet_size, 0);
        slot.ov.event = &slot.event;
        slot.context =
            ep->begin_transfer(slot.buffer.data(), int32_t(slot.buffer.size()), &slot.ov);
        ASSERT_NE(slot.context, nullptr);
    }

    bool finish(CCyUSBEndPoint *ep, Slot &slot) {
        int32_t length = int32_t(slot.buffer.size());
        return ep->finish_transfer(slot.buffer.data(), length, &slot.ov, slot.context,
                                   slot.packets.data());
    }

    CCyDriverDevice device{nullptr, zvusb::kInterfaceClassSecondary, false};
};

TEST_F(SimTransport, OpensWithItsDescriptorsStringsAndSpeed) {
    DetectorConfig c;
    c.serial = "HLM25-D00042VL";
    auto sim = open(c);
    EXPECT_EQ(device.vendor_id(), 0x2E9D);
    EXPECT_EQ(device.product_id(), 0x0080);
    EXPECT_EQ(device.bcd_usb(), 0x0300);
    EXPECT_TRUE(device.super_speed);
    EXPECT_FALSE(device.high_speed);
    EXPECT_EQ(device.serial_number, u"HLM25-D00042VL");
    EXPECT_EQ(device.product, u"HLM25 (simulated)");
    EXPECT_TRUE(device.bos.present);
    EXPECT_TRUE(device.bos.superspeed_capability);
    ASSERT_EQ(device.configurations.size(), 1u);
    ASSERT_EQ(device.configurations[0].interfaces.size(), 2u);
    EXPECT_EQ(device.alt_setting, 0);
    EXPECT_EQ(device.endpoint_count(), 1); // alternate setting 0 has no endpoints
    EXPECT_NE(device.friendly_name.find("HLM25-D00042VL"), std::string::npos);
    // Descriptor reads are not vendor requests.
    EXPECT_TRUE(sim->requests().empty());
}

TEST_F(SimTransport, HighSpeedDetector) {
    DetectorConfig c;
    c.speed = Speed::high;
    open(c);
    EXPECT_TRUE(device.high_speed);
    EXPECT_FALSE(device.super_speed);
    EXPECT_FALSE(device.bos.present);
    EXPECT_EQ(stream_endpoint()->max_packet_size, 3072);
}

TEST_F(SimTransport, VendorRequestsStallsAndGivenAnswers) {
    auto sim = open();
    std::vector<uint8_t> identity(72);
    ASSERT_TRUE(vendor_in(0x30, 0, identity));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(&identity[4])), "HLM25-S00001IC");
    ASSERT_EQ(sim->requests().size(), 1u);
    EXPECT_EQ(sim->requests()[0].data, identity);

    sim->fail_request(0x30);
    std::vector<uint8_t> again(72);
    EXPECT_FALSE(vendor_in(0x30, 0, again));
    EXPECT_EQ(device.control_endpoint()->usb_status, zvusb::kUsbStatusStall);

    sim->respond(0xCD, {0x80});
    std::vector<uint8_t> feature(1);
    ASSERT_TRUE(vendor_in(0xCD, 0, feature));
    EXPECT_EQ(feature[0], 0x80);
}

TEST_F(SimTransport, IsochronousTransfersDeliverTheRampWithAPacketTable) {
    auto sim = open();
    CCyUSBEndPoint *ep = stream_endpoint();
    EXPECT_EQ(sim->alt_setting(), 1);
    ASSERT_NE(dynamic_cast<CCyIsocEndPoint *>(ep), nullptr);
    EXPECT_EQ(ep->address, 0x83);
    EXPECT_EQ(ep->max_packet_size, sim->stream_packet_size());
    sim->inject(StreamFault::bad_status, 1, 2);
    sim->inject(StreamFault::bad_length, 1, 5);
    ASSERT_TRUE(device.set_alt_setting(0));
    ep = stream_endpoint(); // a new collection: the faults apply to it

    Slot slots[2];
    begin(ep, slots[0]);
    begin(ep, slots[1]);
    const uint32_t p = ep->max_packet_size;
    uint32_t expected = 0;
    for (int t = 0; t < 2; ++t) {
        ASSERT_TRUE(ep->wait_for_transfer(&slots[t].ov, 1500));
        ASSERT_TRUE(finish(ep, slots[t]));
        for (int k = 0; k < 16; ++k) {
            const IsoPacketInfo &info = slots[t].packets[k];
            EXPECT_EQ(info.status, t == 1 && k == 2 ? zvusb::kUsbStatusCrc : 0u);
            EXPECT_EQ(info.length, t == 1 && k == 5 ? p + 2 : p);
            const auto *s = reinterpret_cast<const uint16_t *>(slots[t].buffer.data() + k * p);
            for (uint32_t i = 0; i < p / 2; ++i)
                ASSERT_EQ(s[i], expected++ % 16384);
        }
    }
}

// The adapter on its own: what the transport cannot ask for through a valid endpoint object.
TEST_F(SimTransport, AdapterRefusesTransfersOutsideTheStreamAndCancelsOnSettingChange) {
    auto sim = attach(DetectorConfig());
    SimBackendDevice backend(sim);
    std::vector<uint8_t> buffer(16u * sim->stream_packet_size());
    std::vector<IsoPacketInfo> packets(16);
    struct Outcome {
        int calls = 0;
        uint32_t usb_status = 0, error = 0, bytes = 0;
    };
    auto submit = [&](uint8_t endpoint, Outcome &o) {
        backend.transfer(endpoint, buffer.data(), uint32_t(buffer.size()), packets.data(), 16,
                         sim->stream_packet_size(), [&o](uint32_t u, uint32_t e, uint32_t b) {
                             ++o.calls;
                             o = {o.calls, u, e, b};
                         });
    };
    Outcome on_alt0;
    submit(0x83, on_alt0); // alternate setting 0: refused at once
    EXPECT_EQ(on_alt0.calls, 1);
    EXPECT_EQ(on_alt0.usb_status, zvusb::kUsbStatusStall);
    EXPECT_EQ(backend.max_packet_size(0x83), 0u);

    ASSERT_EQ(backend.set_alt_setting(1), zvusb::kErrorSuccess);
    EXPECT_EQ(backend.max_packet_size(0x83), sim->stream_packet_size());
    Outcome wrong_endpoint, queued;
    submit(0x82, wrong_endpoint);
    EXPECT_EQ(wrong_endpoint.error, zvusb::kErrorGenFailure);
    submit(0x83, queued);
    EXPECT_EQ(queued.calls, 0); // completes in a pump, not in the call
    ASSERT_EQ(backend.set_alt_setting(0), zvusb::kErrorSuccess);
    backend.pump(100);
    EXPECT_EQ(queued.calls, 1);
    EXPECT_EQ(queued.error, zvusb::kErrorOperationAborted);
    EXPECT_NE(backend.set_alt_setting(2), zvusb::kErrorSuccess);

    ASSERT_EQ(backend.set_alt_setting(1), zvusb::kErrorSuccess);
    Outcome served;
    submit(0x83, served);
    backend.pump(100);
    EXPECT_EQ(served.error, zvusb::kErrorSuccess);
    EXPECT_EQ(served.bytes, buffer.size());
    EXPECT_EQ(sim->produced(), buffer.size() / 2);
}

TEST_F(SimTransport, ErrorStatusAndNeverCompletingTransfers) {
    auto sim = open();
    sim->inject(StreamFault::error_status, 0);
    sim->inject(StreamFault::timeout, 1);
    CCyUSBEndPoint *ep = stream_endpoint();
    Slot slots[3];
    for (Slot &s : slots)
        begin(ep, s);

    ASSERT_TRUE(ep->wait_for_transfer(&slots[0].ov, 1500));
    EXPECT_FALSE(finish(ep, slots[0]));
    EXPECT_NE(ep->driver_status, 0u);
    EXPECT_EQ(slots[0].packets[0].length, ep->max_packet_size); // data still arrived

    EXPECT_FALSE(ep->wait_for_transfer(&slots[1].ov, 50));
    ASSERT_TRUE(ep->wait_for_transfer(&slots[2].ov, 1500)); // later transfers go on
    EXPECT_TRUE(finish(ep, slots[2]));

    ASSERT_TRUE(device.abort_transfers(ep));
    ASSERT_TRUE(ep->wait_for_transfer(&slots[1].ov, 2000));
    EXPECT_FALSE(finish(ep, slots[1]));
}

TEST_F(SimTransport, UnplugCompletesTransfersInFlightAndFailsLaterOperations) {
    auto sim = open();
    CCyUSBEndPoint *ep = stream_endpoint();
    sim->inject(StreamFault::timeout, 0); // keeps the first transfer in flight
    ASSERT_TRUE(device.set_alt_setting(0));
    ep = stream_endpoint();
    Slot slot;
    begin(ep, slot);
    EXPECT_FALSE(ep->wait_for_transfer(&slot.ov, 20));

    std::thread unplug([&] { sim->detach(); });
    EXPECT_TRUE(ep->wait_for_transfer(&slot.ov, 2000));
    unplug.join();
    EXPECT_FALSE(finish(ep, slot));
    EXPECT_EQ(slot.ov.status, zvusb::kErrorDeviceNotConnected);

    std::vector<uint8_t> identity(72);
    EXPECT_FALSE(vendor_in(0x30, 0, identity));
    EXPECT_FALSE(device.set_alt_setting(0));
    EXPECT_TRUE(sim->detached());
    EXPECT_EQ(device.device_count(), 0);
    EXPECT_FALSE(device.open_device(0));
}

TEST_F(SimTransport, MalformedDescriptorTablesRefuseTheOpen) {
    auto sim = attach(DetectorConfig());
    ASSERT_EQ(device.device_count(), 1);
    // wTotalLength promises more than the table holds.
    sim->override_descriptor(2, 0, {9, 2, 40, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 0, 0xFF, 0, 0, 0});
    EXPECT_FALSE(device.open_device(0));
    EXPECT_FALSE(device.is_open());
    sim->clear_descriptor_overrides();
    // A BOS whose capabilities do not add up.
    sim->override_descriptor(15, 0, {5, 15, 12, 0, 2, 7, 16, 2, 0, 0, 0, 0});
    EXPECT_FALSE(device.open_device(0));
    sim->clear_descriptor_overrides();
    EXPECT_TRUE(device.open_device(0));
}

TEST_F(SimTransport, DevicesAreListedInAttachOrder) {
    auto first = attach(DetectorConfig());
    DetectorConfig c;
    c.serial = "SECOND";
    auto second = attach(c);
    ASSERT_EQ(device.device_count(), 2);
    ASSERT_TRUE(device.open_device(1));
    EXPECT_EQ(device.serial_number, u"SECOND");
    first->detach();
    EXPECT_EQ(device.device_count(), 1);
    ASSERT_TRUE(device.open_device(0));
    EXPECT_EQ(device.serial_number, u"SECOND");
    EXPECT_EQ(devices().size(), 1u);
}

TEST_F(SimTransport, RealTimeTransfersWaitForTheirSamples) {
    DetectorConfig c;
    c.realtime = true;
    c.samplerate = 1000000; // one transfer holds about 0.4 s of samples
    open(c);
    CCyUSBEndPoint *ep = stream_endpoint();
    Slot slot;
    begin(ep, slot);
    EXPECT_FALSE(ep->wait_for_transfer(&slot.ov, 10));
    EXPECT_TRUE(ep->wait_for_transfer(&slot.ov, 2000));
    EXPECT_TRUE(finish(ep, slot));
}

} // namespace
} // namespace zvsim
