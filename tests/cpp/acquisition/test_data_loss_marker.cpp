// The data-loss marker test on plain arrays.
#include "libzv/data_loss_marker.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

void put_marker(std::vector<uint16_t> &packet, size_t at) {
    for (size_t k = 0; k < 16; ++k) {
        packet[at + 2 * k] = 0xFFF3;
        packet[at + 2 * k + 1] = 0x0003;
    }
}

bool marker(const std::vector<uint16_t> &packet) {
    return zv::is_data_loss_marker(packet.data(), int(packet.size()));
}

TEST(DataLossMarker, FoundAtEveryTestedPosition) {
    const size_t n = 24576; // a SuperSpeed packet of 49152 bytes
    for (size_t at = n - 5120; at > 0 && at < n; at -= 5120) {
        std::vector<uint16_t> packet(n, 0x1234);
        put_marker(packet, at);
        EXPECT_TRUE(marker(packet)) << "at " << at;
    }
}

TEST(DataLossMarker, IgnoredAnywhereElse) {
    const size_t n = 24576;
    std::vector<uint16_t> packet(n, 0x1234);
    put_marker(packet, n - 5120 + 1);
    EXPECT_FALSE(marker(packet));
    std::vector<uint16_t> at_start(n, 0);
    put_marker(at_start, 0);
    EXPECT_FALSE(marker(at_start));
}

TEST(DataLossMarker, NeedsAllSixteenPairs) {
    const size_t n = 10240 + 7;
    std::vector<uint16_t> packet(n, 0);
    put_marker(packet, n - 5120);
    EXPECT_TRUE(marker(packet));
    packet[n - 5120 + 31] = 0x0004;
    EXPECT_FALSE(marker(packet));
    packet[n - 5120 + 31] = 0x0003;
    packet[n - 5120] = 0xFFF2;
    EXPECT_FALSE(marker(packet));
}

TEST(DataLossMarker, ShortPacketsNeverCarryOne) {
    // 5120 samples: the only candidate position would be 0, which is not tested.
    std::vector<uint16_t> packet(5120, 0);
    put_marker(packet, 0);
    EXPECT_FALSE(marker(packet));
    std::vector<uint16_t> longer(5121, 0);
    put_marker(longer, 1);
    EXPECT_TRUE(marker(longer));
    EXPECT_FALSE(zv::is_data_loss_marker(nullptr, 0));
}

} // namespace
