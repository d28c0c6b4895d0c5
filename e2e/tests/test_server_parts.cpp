// The parts of zvsim-usbredir that do not speak usbredir: the configuration walk that finds the
// stream endpoint and changes its interval, the wall-clock packet schedule, and the packets cut
// from the firmware model's transfers.
#include <gtest/gtest.h>

#include <vector>

#include "e2e/detectors.h"
#include "e2e/server/configuration_layout.h"
#include "e2e/server/firmware_config.h"
#include "e2e/server/packet_schedule.h"
#include "e2e/server/stream_packets.h"
#include "sim/firmware/data_loss_marker.h"
#include "sim/firmware/firmware.h"

using namespace zve2e;

namespace {

const Detector &detector(Link link) {
    for (const Detector &d : kDetectors)
        if (d.link == link) return d;
    return kDetectors[0];
}

std::vector<uint8_t> configuration(zvsim::Firmware &f) {
    return *f.descriptors().find(zvsim::descriptor_type::kConfiguration, 0);
}

const EndpointEntry *stream_endpoint(const ConfigurationLayout &layout) {
    for (const EndpointEntry &e : layout.endpoints)
        if (e.address == zvsim::kStreamEndpoint) return &e;
    return nullptr;
}

TEST(ConfigurationLayout, FindsTheStreamEndpointAtEachSpeed) {
    for (Link link : {Link::high_speed, Link::superspeed}) {
        const Detector &d = detector(link);
        zvsim::Firmware f(firmware_config(d, d.samplerate));
        const ConfigurationLayout layout = configuration_layout(configuration(f));
        ASSERT_EQ(layout.interfaces.size(), 2u);
        EXPECT_EQ(layout.interfaces[1].alt, zvsim::kStreamAltSetting);
        const EndpointEntry *e = stream_endpoint(layout);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->alt, zvsim::kStreamAltSetting);
        EXPECT_EQ(e->attributes & 3, 1); // isochronous
        EXPECT_EQ(e->has_companion, link == Link::superspeed);
        EXPECT_EQ(zvsim::isochronous_packet_size(e->w_max_packet_size, e->has_companion,
                                                 e->max_burst, e->companion_attributes),
                  f.descriptors().stream_packet_size());
    }
}

TEST(ConfigurationLayout, ChangesTheIntervalOfOneEndpointOnly) {
    const Detector &d = detector(Link::superspeed);
    zvsim::Firmware f(firmware_config(d, d.samplerate));
    std::vector<uint8_t> bytes = configuration(f);
    const std::vector<uint8_t> before = bytes;
    ASSERT_TRUE(set_endpoint_interval(bytes, zvsim::kStreamEndpoint, 4));
    EXPECT_EQ(stream_endpoint(configuration_layout(bytes))->interval, 4);
    size_t changed = 0;
    for (size_t i = 0; i < bytes.size(); ++i)
        changed += bytes[i] != before[i];
    EXPECT_EQ(changed, 1u);
    EXPECT_FALSE(set_endpoint_interval(bytes, 0x81, 4));
}

TEST(ConfigurationLayout, StopsAtADescriptorThatDoesNotFit) {
    const Detector &d = detector(Link::high_speed);
    zvsim::Firmware f(firmware_config(d, d.samplerate));
    std::vector<uint8_t> bytes = configuration(f);
    bytes.resize(bytes.size() - 3); // the endpoint descriptor is cut short
    const ConfigurationLayout layout = configuration_layout(bytes);
    EXPECT_EQ(layout.interfaces.size(), 2u);
    EXPECT_TRUE(layout.endpoints.empty());
    std::vector<uint8_t> zero_length = {9, 2, 0, 0, 0};
    EXPECT_TRUE(configuration_layout(zero_length).endpoints.empty());
}

// What a Linux host sends to the detector on its way, beyond descriptors: served over usbredir
// these reach the model as they are.
TEST(StandardRequests, HaltsClearedAndSuperSpeedLinkSettingsAreAcknowledged) {
    const Detector &super = detector(Link::superspeed);
    zvsim::Firmware f(firmware_config(super, super.samplerate));
    uint8_t sel[6] = {};
    EXPECT_FALSE(f.control({0x02, 1, 0, zvsim::kStreamEndpoint, 0}, nullptr).stalled);
    EXPECT_FALSE(f.control({0x02, 1, 0, 0x00, 0}, nullptr).stalled);
    EXPECT_TRUE(f.control({0x02, 1, 0, 0x81, 0}, nullptr).stalled); // no such endpoint
    EXPECT_TRUE(f.control({0x02, 1, 1, zvsim::kStreamEndpoint, 0}, nullptr).stalled);
    EXPECT_FALSE(f.control({0x00, 48, 0, 0, 6}, sel).stalled);      // SET_SEL
    EXPECT_FALSE(f.control({0x00, 49, 40, 0, 0}, nullptr).stalled); // SET_ISOCH_DELAY
    EXPECT_TRUE(f.control({0x00, 48, 0, 0, 2}, sel).stalled);

    const Detector &high = detector(Link::high_speed);
    zvsim::Firmware h(firmware_config(high, high.samplerate));
    EXPECT_TRUE(h.control({0x00, 49, 40, 0, 0}, nullptr).stalled); // not at high speed
}

TEST(PacketSchedule, PacketsFallDueAtThePacedInterval) {
    PacketSchedule s(0.001, 0.5); // a packet every 2 ms
    s.start(10.0, 3);
    EXPECT_EQ(s.due(10.0), 4u); // the three ahead and the one due now
    s.take(4);
    EXPECT_EQ(s.due(10.0), 0u);
    EXPECT_NEAR(s.wait(10.0), 0.002, 1e-9);
    EXPECT_EQ(s.due(10.0021), 1u);
    s.take(1);
    EXPECT_EQ(s.due(10.0041), 1u);
}

TEST(PacketSchedule, ALongPauseIsNotMadeUpInOneBurst) {
    PacketSchedule s(0.001, 1.0);
    s.start(0.0, 0);
    s.take(1);
    const uint32_t due = s.due(5.0); // five seconds late
    EXPECT_GE(due, 1u);
    EXPECT_LE(due, 51u);
}

class StreamPacketsTest : public ::testing::Test {
  protected:
    const Detector &d = detector(Link::superspeed);
    zvsim::Firmware firmware{firmware_config(d, d.samplerate)};
    static constexpr uint32_t kSamples = 400;
    StreamPackets packets{firmware, kSamples};
};

TEST_F(StreamPacketsTest, NothingOutsideTheStreamingAlternateSetting) {
    StreamPacket p;
    EXPECT_FALSE(packets.next(p));
}

TEST_F(StreamPacketsTest, PacketsCarryTheRampWithoutAGapAcrossTransfers) {
    ASSERT_TRUE(firmware.select_alt_setting(zvsim::kStreamAltSetting));
    uint16_t last = 0;
    for (uint32_t k = 0; k < 3 * kPacketsPerTransfer; ++k) {
        StreamPacket p;
        ASSERT_TRUE(packets.next(p));
        ASSERT_TRUE(p.sent);
        ASSERT_FALSE(p.error);
        ASSERT_EQ(p.length, 2 * kSamples);
        const uint16_t *s = reinterpret_cast<const uint16_t *>(p.data);
        if (k > 0) {
            EXPECT_EQ(s[0], uint16_t((last + 1) & 0x3FFF)) << "packet " << k;
        }
        last = s[kSamples - 1];
    }
    EXPECT_EQ(firmware.collection_transfers(), 3u);
}

TEST_F(StreamPacketsTest, TheTransferWithTheMarkerCarriesPacketsLongEnoughForIt) {
    firmware.stream_faults().inject(zvsim::StreamFault::data_loss, 1, 5);
    ASSERT_TRUE(firmware.select_alt_setting(zvsim::kStreamAltSetting));
    std::vector<uint32_t> lengths;
    bool marker = false;
    for (uint32_t k = 0; k < 3 * kPacketsPerTransfer; ++k) {
        StreamPacket p;
        ASSERT_TRUE(packets.next(p));
        lengths.push_back(p.length);
        if (k == kPacketsPerTransfer + 5) {
            const uint16_t *s = reinterpret_cast<const uint16_t *>(p.data);
            const size_t at = p.length / 2 - zvsim::kMarkerSpacing;
            marker = s[at] == zvsim::kMarkerFirst && s[at + 1] == zvsim::kMarkerSecond;
        }
    }
    EXPECT_TRUE(marker);
    EXPECT_EQ(lengths[kPacketsPerTransfer - 1], 2 * kSamples);
    EXPECT_EQ(lengths[kPacketsPerTransfer], 2 * kMarkerPacketSamples);
    EXPECT_EQ(lengths[2 * kPacketsPerTransfer], 2 * kSamples);
}

} // namespace
