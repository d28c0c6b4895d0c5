// The firmware's sample stream: looped words, continuity, test patterns, port bits and stream
// faults.
#include <gtest/gtest.h>

#include "firmware_harness.h"
#include "sim/firmware/data_loss_marker.h"
#include "sim/firmware/firmware.h"

namespace zvsim {
namespace {

using testing::port_record;
using testing::stream;
using testing::vendor_out;

Firmware streaming(DetectorConfig c = DetectorConfig()) {
    Firmware fw(c);
    fw.select_alt_setting(1);
    return fw;
}

void start_collection(Firmware &fw) {
    fw.select_alt_setting(0);
    fw.select_alt_setting(1);
}

TEST(SampleStream, DefaultRampRunsOnAcrossPacketsTransfersAndCollections) {
    Firmware fw = streaming();
    uint32_t expected = 0;
    for (int collection = 0; collection < 2; ++collection) {
        for (int t = 0; t < 3; ++t) {
            auto tr = stream(fw);
            ASSERT_EQ(tr.result, StreamResult::completed);
            for (const PacketResult &p : tr.packets) {
                EXPECT_FALSE(p.error);
                EXPECT_EQ(p.length, 49152u);
            }
            for (uint16_t w : tr.words)
                ASSERT_EQ(w, expected++ % 16384);
        }
        start_collection(fw);
    }
    EXPECT_EQ(fw.samples().produced(), expected);
}

TEST(SampleStream, ShortLoopsRepeatExactlyAndNewWordsRestartTheLoop) {
    DetectorConfig c;
    c.samples = {7, 0x4001, 0x8002};
    Firmware fw = streaming(c);
    auto tr = stream(fw, 3);
    for (size_t i = 0; i < tr.words.size(); ++i)
        ASSERT_EQ(tr.words[i], c.samples[i % 3]);
    fw.samples().set_words({1, 2, 3, 4, 5});
    fw.samples().set_position(3);
    tr = stream(fw, 1);
    EXPECT_EQ(tr.words[0], 4);
    EXPECT_EQ(tr.words[1], 5);
    EXPECT_EQ(tr.words[2], 1);
    fw.samples().set_words({});
    EXPECT_EQ(fw.samples().words().size(), 16384u); // empty selects the ramp
}

TEST(SampleStream, OnlyTheStreamEndpointOnAlternateSettingOneStreams) {
    Firmware fw{DetectorConfig()};
    EXPECT_EQ(stream(fw).result, StreamResult::rejected);
    fw.select_alt_setting(1);
    EXPECT_EQ(stream(fw, 16, 0x82).result, StreamResult::rejected);
    EXPECT_EQ(fw.samples().produced(), 0u);
    EXPECT_FALSE(fw.select_alt_setting(2));
    EXPECT_EQ(stream(fw).result, StreamResult::completed);
}

TEST(SampleStream, PacketsNeverRunPastTheBufferOrTheDevicePacketSize) {
    Firmware fw = streaming();
    const uint32_t p = fw.descriptors().stream_packet_size();
    // The host's packets are larger than the device's, and the buffer ends inside packet 2.
    std::vector<uint16_t> buffer((2 * (p + 100) + 10) / 2 + 50, 0xAAAA);
    std::vector<PacketResult> packets(3);
    const uint32_t length = 2 * (p + 100) + 10;
    ASSERT_EQ(fw.stream_transfer(0x83, reinterpret_cast<uint8_t *>(buffer.data()), length, p + 100,
                                 packets.data(), 3),
              StreamResult::completed);
    EXPECT_EQ(packets[0].length, p);
    EXPECT_EQ(packets[1].length, p);
    EXPECT_EQ(packets[2].length, 10u);
    EXPECT_EQ(buffer[p / 2], 0xAAAA); // the gap behind a device-sized packet stays untouched
    EXPECT_EQ(buffer[length / 2], 0xAAAA);
    EXPECT_EQ(buffer[(p + 100) / 2], (p / 2) % 16384); // packet 1 continues the ramp
}

TEST(SampleStream, OddHostPacketSizesGetWholeSamplesAtUnalignedOffsets) {
    Firmware fw = streaming();
    std::vector<uint8_t> buffer(3 * 1001, 0xAA);
    std::vector<PacketResult> packets(3);
    ASSERT_EQ(fw.stream_transfer(0x83, buffer.data(), uint32_t(buffer.size()), 1001,
                                 packets.data(), 3),
              StreamResult::completed);
    for (const PacketResult &r : packets) EXPECT_EQ(r.length, 1000u);
    // Packet 1 starts at byte 1001 and continues the ramp after packet 0's 500 samples.
    EXPECT_EQ(buffer[1001] | buffer[1002] << 8, 500);
    EXPECT_EQ(buffer[1001 + 998] | buffer[1001 + 999] << 8, 999);
    EXPECT_EQ(buffer[1001 + 1000], 0xAA);
}

TEST(TestPatterns, CheckerboardAndUserPatternAlternateByAbsoluteSample) {
    DetectorConfig c;
    c.samples = {0x4000 | 1, 0x8000 | 2, 3};
    Firmware fw = streaming(c);
    vendor_out(fw, 0xC0, 4, 13);
    vendor_out(fw, 0xC0, 1, 255);
    auto tr = stream(fw, 2);
    for (size_t i = 0; i < tr.words.size(); ++i) {
        uint16_t code = i % 2 ? kCheckerboardOdd : kCheckerboardEven;
        ASSERT_EQ(tr.words[i], (c.samples[i % 3] & 0xC000) | code) << i; // port bits kept
    }
    // User pattern as the library writes it: 0x3FFF gives 0xFC and 0xFF.
    for (auto [reg, data] : {std::pair{25, 0xFC},
                             {26, 0xFF},
                             {27, 0x1234 * 4 & 0xFF},
                             {28, 0x1234 >> 6 & 0xFF},
                             {13, 8},
                             {255, 1}})
        vendor_out(fw, 0xC0, uint16_t(data), uint16_t(reg));
    const uint64_t first = fw.samples().produced();
    tr = stream(fw, 1);
    for (size_t i = 0; i < 100; ++i)
        ASSERT_EQ(tr.words[i] & 0x3FFF, (first + i) % 2 ? 0x1234 : 0x3FFF);
}

TEST(TestPatterns, Pn9IsTheNinthOrderMaximalSequence) {
    Firmware fw = streaming();
    vendor_out(fw, 0xC0, 6, 13);
    vendor_out(fw, 0xC0, 1, 255);
    auto tr = stream(fw, 1);
    std::vector<int> bits(9, 1); // the generator starts from all ones
    for (size_t i = 0; i < 2000; ++i)
        for (int b = 13; b >= 0; --b)
            bits.push_back((tr.words[i] >> b) & 1);
    for (size_t n = 9; n < bits.size(); ++n)
        ASSERT_EQ(bits[n], bits[n - 9] ^ bits[n - 5]) << n; // x^9 + x^5 + 1
    std::vector<int> seq(bits.begin() + 9, bits.end());
    int ones = 0;
    for (size_t n = 0; n < 511; ++n)
        ones += seq[n];
    EXPECT_EQ(ones, 256);
    for (size_t shift : {7, 73}) // no period shorter than 511
        EXPECT_NE(std::vector<int>(seq.begin(), seq.begin() + 511),
                  std::vector<int>(seq.begin() + shift, seq.begin() + shift + 511));
    // The sequence runs on by absolute sample number.
    const uint64_t first = fw.samples().produced();
    tr = stream(fw, 1);
    EXPECT_EQ(tr.words[0], pn9_word(first));
    EXPECT_EQ(tr.words[0], pn9_word(first % kPn9Period));
}

// Level of a square wave or pulse at sample s, computed sample by sample.
int square(uint64_t s, double clocks_per_sample, uint32_t period, uint32_t threshold) {
    return uint64_t(s * clocks_per_sample) % period < threshold;
}

TEST(PortBits, DrivenSquareWaveAndPulseLevelsReplaceTheWordBits) {
    DetectorConfig c;
    c.samples = {0x4000, 0x8000, 0xC000, 0};
    Firmware fw = streaming(c);
    auto tr = stream(fw, 1);
    for (size_t i = 0; i < 8; ++i)
        ASSERT_EQ(tr.words[i], c.samples[i % 4]); // inputs: words

    vendor_out(fw, 0xC8, 3, 0, port_record(1, 1, 0, 0));    // T driven high
    vendor_out(fw, 0xC8, 2, 0, port_record(4, 0, 100, 40)); // S square wave, 40 of 100 clocks
    uint64_t first = fw.samples().produced();
    tr = stream(fw, 2);
    for (size_t i = 0; i < tr.words.size(); ++i) {
        int s = square(first + i, 2.5, 100, 40);
        ASSERT_EQ(tr.words[i] >> 14, 2 | s) << i;
    }

    vendor_out(fw, 0xC8, 3, 0, port_record(0, 0, 0, 0));  // T back to input
    vendor_out(fw, 0xC8, 2, 0, port_record(5, 0, 0, 25)); // S pulse of 25 clocks, from now
    first = fw.samples().produced();
    tr = stream(fw, 1);
    const uint64_t start = uint64_t(first * 2.5);
    for (size_t i = 0; i < 100; ++i) {
        uint64_t clock = uint64_t((first + i) * 2.5);
        int s = clock >= start && clock < start + 25;
        ASSERT_EQ(tr.words[i] >> 14, (c.samples[(first + i) % 4] >> 15) << 1 | s) << i;
    }
    fw.ports().set_input(3, 1);
    tr = stream(fw, 1);
    EXPECT_EQ(tr.words[0] >> 15, 1);
}

TEST(PortBits, SquareWaveEdgeCases) {
    DetectorConfig c;
    c.samplerate = 50000000; // 4 clocks per sample
    Firmware fw = streaming(c);
    vendor_out(fw, 0xC8, 2, 0, port_record(4, 0, 0, 0));   // no period, no high time: low
    vendor_out(fw, 0xC8, 3, 0, port_record(4, 0, 10, 10)); // high the whole period
    auto tr = stream(fw, 1);
    for (size_t i = 0; i < 1000; ++i)
        ASSERT_EQ(tr.words[i] >> 14, 2);
    vendor_out(fw, 0xC8, 2, 0, port_record(4, 0, 8, 4)); // alternate every sample
    uint64_t first = fw.samples().produced();
    tr = stream(fw, 1);
    for (size_t i = 0; i < 1000; ++i)
        ASSERT_EQ((tr.words[i] >> 14) & 1, square(first + i, 4, 8, 4)) << i;
}

TEST(StreamFaults, PacketFaultsHitTheirTransferOfTheNextCollection) {
    Firmware fw{DetectorConfig()};
    fw.stream_faults().inject(StreamFault::bad_status, 1, 3);
    fw.stream_faults().inject(StreamFault::bad_length, 1, 4);
    fw.stream_faults().inject(StreamFault::data_loss, 2, kEveryPacket);
    fw.select_alt_setting(1);
    const uint32_t p = fw.descriptors().stream_packet_size();

    auto t0 = stream(fw);
    for (const PacketResult &r : t0.packets)
        EXPECT_FALSE(r.error);
    auto t1 = stream(fw);
    for (size_t k = 0; k < 16; ++k) {
        EXPECT_EQ(t1.packets[k].error, k == 3);
        EXPECT_EQ(t1.packets[k].length, k == 4 ? p + 2 : p);
    }
    // Faulty packets still take their samples: the stream runs on behind them.
    EXPECT_EQ(t1.packet(5)[0], (5 + 16) * t1.samples_per_packet() % 16384);
    auto t2 = stream(fw);
    const size_t n = t2.samples_per_packet();
    for (size_t k = 0; k < 16; ++k) {
        const uint16_t *s = t2.packet(k);
        for (size_t i = 0; i < 32; i += 2) {
            ASSERT_EQ(s[n - 5120 + i], kMarkerFirst);
            ASSERT_EQ(s[n - 5120 + i + 1], kMarkerSecond);
        }
        EXPECT_EQ(s[0], (32 + k) * n % 16384);
    }
    EXPECT_EQ(fw.collection_transfers(), 3u);

    // The next collection starts counting again and has no faults left.
    start_collection(fw);
    stream(fw);
    auto again = stream(fw);
    EXPECT_FALSE(again.packets[3].error);
    EXPECT_EQ(fw.collection_transfers(), 2u);
}

TEST(StreamFaults, TransferFaultsAndClear) {
    Firmware fw{DetectorConfig()};
    fw.stream_faults().inject(StreamFault::error_status, 0, kEveryPacket);
    fw.stream_faults().inject(StreamFault::timeout, 1, kEveryPacket);
    fw.stream_faults().inject(StreamFault::bad_status, 2, kEveryPacket);
    fw.select_alt_setting(1);
    auto t0 = stream(fw);
    EXPECT_EQ(t0.result, StreamResult::transfer_error);
    EXPECT_EQ(t0.words[0], 0); // its packets are intact
    const uint64_t produced = fw.samples().produced();
    EXPECT_EQ(stream(fw).result, StreamResult::never_completes);
    EXPECT_EQ(fw.samples().produced(), produced); // a transfer never served takes no samples
    auto t2 = stream(fw);
    for (const PacketResult &r : t2.packets)
        EXPECT_TRUE(r.error);

    // Injected during a collection: waits for the next one; clear forgets pending faults too.
    fw.stream_faults().inject(StreamFault::bad_status, 0, 0);
    EXPECT_FALSE(stream(fw).packets[0].error);
    fw.stream_faults().clear();
    start_collection(fw);
    EXPECT_FALSE(stream(fw).packets[0].error);
}

TEST(DataLossMarker, NeedsMoreThan5120Samples) {
    std::vector<uint16_t> small(5120, 1), large(5121, 1);
    EXPECT_FALSE(write_data_loss_marker(small.data(), small.size()));
    EXPECT_EQ(small, std::vector<uint16_t>(5120, 1));
    EXPECT_TRUE(write_data_loss_marker(large.data(), large.size()));
    EXPECT_EQ(large[0], 1);
    EXPECT_EQ(large[1], kMarkerFirst);
    EXPECT_EQ(large[32], kMarkerSecond);
    EXPECT_EQ(large[33], 1);
}

} // namespace
} // namespace zvsim
