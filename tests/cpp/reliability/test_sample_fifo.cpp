// The real-time detector's FIFO and what the firmware does with the samples it drops: counted in
// samples, without a clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim/firmware/data_loss_marker.h"
#include "sim/firmware/firmware.h"
#include "sim/firmware/sample_fifo.h"

namespace {

using namespace zvsim;

TEST(SampleFifo, TransfersCompleteWhenTheirSamplesAreWritten) {
    SampleFifo fifo(1000);
    EXPECT_EQ(fifo.overflow(0), 0u);
    EXPECT_EQ(fifo.filled_at(400), 400u);
    fifo.take(400);
    EXPECT_EQ(fifo.filled_at(400), 800u);
    // A host that keeps a transfer queued never lets the FIFO hold more than it can.
    EXPECT_EQ(fifo.overflow(800), 0u);
    fifo.take(400);
    EXPECT_EQ(fifo.overflow(1800), 0u); // exactly full
    EXPECT_EQ(fifo.dropped(), 0u);
}

TEST(SampleFifo, WhatDoesNotFitIsDroppedOnceAndLaterTransfersFollowOn) {
    SampleFifo fifo(1000);
    fifo.take(500);
    EXPECT_EQ(fifo.overflow(5000), 3500u); // holds 1000 of the 4500 written since
    EXPECT_EQ(fifo.overflow(5000), 0u);    // the same moment again drops nothing more
    EXPECT_EQ(fifo.dropped(), 3500u);
    // The FIFO is full: a transfer of 600 completes at once, one of 1600 when 600 more arrive.
    EXPECT_EQ(fifo.filled_at(600), 4600u);
    EXPECT_EQ(fifo.filled_at(1600), 5600u);
    fifo.restart();
    EXPECT_EQ(fifo.dropped(), 0u);
    EXPECT_EQ(fifo.filled_at(10), 10u);
}

// Firmware streaming the word number modulo a prime loop, so every word tells where it came from.
class DroppingFirmware : public ::testing::Test {
  protected:
    static constexpr uint64_t kLoop = 10007;

    explicit DroppingFirmware(Speed speed = Speed::super) : fw(config(speed)) {
        fw.select_alt_setting(kStreamAltSetting);
        packet_samples = fw.descriptors().stream_packet_size() / 2;
    }

    static DetectorConfig config(Speed speed) {
        DetectorConfig c;
        c.speed = speed;
        for (uint64_t i = 0; i < kLoop; ++i)
            c.samples.push_back(uint16_t(i));
        return c;
    }

    // One transfer of `npackets` packets; the words of each packet.
    std::vector<std::vector<uint16_t>> transfer(uint32_t npackets) {
        const uint32_t p = fw.descriptors().stream_packet_size();
        std::vector<uint16_t> words(size_t(npackets) * p / 2);
        std::vector<PacketResult> results(npackets);
        EXPECT_EQ(fw.stream_transfer(kStreamEndpoint, reinterpret_cast<uint8_t *>(words.data()),
                                     npackets * p, p, results.data(), npackets),
                  StreamResult::completed);
        std::vector<std::vector<uint16_t>> packets;
        for (uint32_t k = 0; k < npackets; ++k)
            packets.emplace_back(words.begin() + k * p / 2, words.begin() + (k + 1) * p / 2);
        return packets;
    }

    static bool carries_marker(const std::vector<uint16_t> &packet) {
        const size_t at = packet.size() - kMarkerSpacing;
        return packet.size() > kMarkerSpacing && packet[at] == kMarkerFirst &&
               packet[at + 1] == kMarkerSecond && packet[at + 31] == kMarkerSecond;
    }

    Firmware fw;
    uint64_t packet_samples = 0;
};

TEST_F(DroppingFirmware, DroppedSamplesAreSkippedAndTheNextPacketCarriesTheMarker) {
    EXPECT_EQ(
        fw.transfer_samples(4 * 2 * uint32_t(packet_samples), 2 * uint32_t(packet_samples), 4),
        4 * packet_samples);
    transfer(1);
    const uint64_t produced = fw.samples().produced();
    fw.drop_samples(12345);
    EXPECT_EQ(fw.dropped_samples(), 12345u);
    EXPECT_EQ(fw.samples().produced(), produced + 12345);
    EXPECT_TRUE(fw.marker_owed());

    const auto packets = transfer(2);
    // The marker packet takes its samples (they are lost with it); the next follows on.
    EXPECT_TRUE(carries_marker(packets[0]));
    EXPECT_EQ(packets[0][0], (produced + 12345) % kLoop);
    EXPECT_FALSE(carries_marker(packets[1]));
    EXPECT_EQ(packets[1][0], (produced + 12345 + packet_samples) % kLoop);
    EXPECT_FALSE(fw.marker_owed());
    EXPECT_FALSE(carries_marker(transfer(1)[0]));
}

TEST_F(DroppingFirmware, ANewCollectionOwesNoMarker) {
    fw.drop_samples(10);
    fw.select_alt_setting(0);
    fw.select_alt_setting(kStreamAltSetting);
    EXPECT_FALSE(fw.marker_owed());
    EXPECT_FALSE(carries_marker(transfer(1)[0]));
    fw.drop_samples(0); // nothing lost, nothing owed
    EXPECT_FALSE(fw.marker_owed());
}

class DroppingHighSpeedFirmware : public DroppingFirmware {
  protected:
    DroppingHighSpeedFirmware() : DroppingFirmware(Speed::high) {}
};

TEST_F(DroppingHighSpeedFirmware, PacketsTooShortForTheMarkerCannotReportTheLoss) {
    ASSERT_LE(packet_samples, kMarkerSpacing);
    fw.drop_samples(100);
    for (const auto &packet : transfer(16))
        EXPECT_EQ(packet[packet.size() - 1], (packet[0] + packet.size() - 1) % kLoop);
    EXPECT_TRUE(fw.marker_owed());
}

} // namespace
