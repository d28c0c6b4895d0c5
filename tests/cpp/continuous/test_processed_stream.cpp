// Processed continuous streams through the C interface: the decimation grid and its phase carried
// across reads of awkward sizes, and a lost packet seen in output positions. The detector's words
// count up in a loop of 65536 and the stream passes raw codes through ("none" calibration), so
// every output sample and its port levels say which raw sample it was.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "libzv/libzv.h"
#include "sim/simulator.h"
#include "stream/zv_stream.h"

namespace {

class ProcessedStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        zvsim::DetectorConfig config;
        config.samples.resize(65536);
        std::iota(config.samples.begin(), config.samples.end(), uint16_t(0));
        detector = zvsim::attach(config);
        dev = zv_open_serial(detector->serial().c_str());
        ASSERT_NE(dev, nullptr);
        packet = detector->stream_packet_size() / 2;
        stream = zv_open_stream_float(dev);
        ASSERT_NE(stream, nullptr);
        ASSERT_EQ(stream->set_calibration_mode("none"), 0);
    }
    void TearDown() override {
        zv_stream_float_close(stream);
        zv_close(dev);
        zvsim::detach_all();
    }

    // The raw word behind output k of a read: its ADC code and port levels.
    static uint16_t word_of(const std::vector<float> &out, const std::vector<uint8_t> &flags,
                            size_t k) {
        return uint16_t(uint16_t(out[k]) | flags[k] << 14);
    }

    std::shared_ptr<zvsim::SimulatedDetector> detector;
    zv_device *dev = nullptr;
    uint64_t packet = 0;
    zv_stream_float *stream = nullptr;
};

TEST_F(ProcessedStreamTest, DownsampledReadsKeepEveryTenthRawSampleAcrossReadsAndGaps) {
    ASSERT_EQ(stream->set_downsampling(10), 0);
    // The transfer with the loss marker comes after about 500,000 outputs.
    detector->inject(zvsim::StreamFault::data_loss, 40, 5);
    ASSERT_EQ(zv_stream_float_start(stream, 1.0), 0);
    EXPECT_EQ(stream->set_downsampling(5), ZV_ERROR_STREAM_STATE);
    EXPECT_EQ(stream->set_filter("butterworth4"), ZV_ERROR_STREAM_STATE);

    bool have_first = false;
    uint64_t expected_index = 0;
    uint16_t first_word = 0; // the raw word at raw position 0
    uint64_t gaps_seen = 0;
    const uint64_t sizes[] = {1, 7, 4095, 65537, 3, 24576, 99999};
    for (int round = 0; round < 12; ++round) {
        for (uint64_t n : sizes) {
            std::vector<float> out(n);
            std::vector<uint8_t> flags(n);
            zv_block block{};
            ASSERT_EQ(zv_stream_float_read(stream, out.data(), flags.data(), n, 5000, &block), 0);
            ASSERT_EQ(block.count, n);
            if (!have_first) {
                first_word = word_of(out, flags, 0);
                have_first = true;
            }
            EXPECT_EQ(block.index, expected_index);
            if (block.ngaps > 0) {
                ASSERT_EQ(block.ngaps, 1u);
                const zv_gap &gap = block.gaps[0];
                EXPECT_EQ(gap.kind, ZV_LOSS_DEVICE);
                // One packet of raw samples: a tenth of it in outputs, give or take one.
                EXPECT_NEAR(double(gap.lost), double(packet) / 10, 1.0);
                EXPECT_EQ(block.lost, gap.lost);
                ++gaps_seen;
            }
            // Each output is the raw sample at ten times its output position, whatever the read
            // sizes were, and the positions skip the gap.
            uint64_t position = block.index;
            for (uint64_t k = 0; k < n; ++k, ++position) {
                if (block.ngaps > 0 && position == block.gaps[0].index)
                    position += block.gaps[0].lost;
                if (word_of(out, flags, k) != uint16_t(first_word + position * 10)) {
                    ADD_FAILURE() << "output " << k << " is not raw sample " << position * 10;
                    break;
                }
            }
            expected_index = position;
        }
    }
    EXPECT_EQ(gaps_seen, 1u);
    EXPECT_EQ(zv_stream_float_lost_total(stream), uint64_t(double(packet) / 10 + 0.5));
    EXPECT_TRUE(zv_stream_float_running(stream));
    EXPECT_EQ(zv_stream_float_stop(stream), 0);
    EXPECT_FALSE(zv_stream_float_running(stream));
}

} // namespace
