// Raw continuous streams through the C interface, on simulated detectors whose 16-bit words count
// up in a loop of 65536, so every sample read with the port bits kept says where it came from.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

#include "libzv/libzv.h"
#include "sim/simulator.h"

namespace {

using namespace std::chrono;

std::vector<uint16_t> counting_words() {
    std::vector<uint16_t> words(65536);
    std::iota(words.begin(), words.end(), uint16_t(0));
    return words;
}

class RawStreamTest : public ::testing::Test {
  protected:
    void attach(bool realtime, uint32_t samplerate = 80000000) {
        zvsim::DetectorConfig config;
        config.samples = counting_words();
        config.realtime = realtime;
        config.samplerate = samplerate;
        // Deep enough that a busy test machine never makes the detector itself drop samples.
        config.fifo_samples = 1u << 24;
        detector = zvsim::attach(config);
        dev = zv_open_serial(detector->serial().c_str());
        ASSERT_NE(dev, nullptr) << zv_get_error_string();
        packet = detector->stream_packet_size() / 2;
        stream = zv_raw_stream_open(dev, false);
        ASSERT_NE(stream, nullptr);
    }
    void TearDown() override {
        zv_raw_stream_close(stream);
        zv_close(dev);
        zvsim::detach_all();
    }

    // Reads n samples and checks that they continue the count where the previous read ended,
    // `lost` samples later; returns the block.
    zv_block read_continuing(uint64_t n, uint64_t lost = 0, int32_t timeout_ms = 5000) {
        std::vector<uint16_t> samples(n);
        zv_block block{};
        EXPECT_EQ(zv_raw_stream_read(stream, samples.data(), nullptr, n, timeout_ms, &block), 0)
            << zv_get_error_string();
        EXPECT_EQ(block.count, n);
        EXPECT_EQ(block.lost, lost);
        if (have_next) {
            EXPECT_EQ(block.index, next_index + lost);
            EXPECT_EQ(samples[0], uint16_t(next_word + lost))
                << "at stream position " << block.index;
        }
        for (uint64_t k = 1; k < n; ++k)
            if (samples[k] != uint16_t(samples[0] + k)) {
                ADD_FAILURE() << "sample " << k << " of a read of " << n << " breaks the count";
                break;
            }
        have_next = true;
        next_index = block.index + n;
        next_word = uint16_t(samples[0] + n);
        return block;
    }

    std::shared_ptr<zvsim::SimulatedDetector> detector;
    zv_device *dev = nullptr;
    zv_raw_stream *stream = nullptr;
    uint64_t packet = 0;
    bool have_next = false;
    uint64_t next_index = 0;
    uint16_t next_word = 0;
};

TEST_F(RawStreamTest, ReadsOfAwkwardSizesContinueExactlyAndReportTheDetectorsLossMarker) {
    attach(false);
    ASSERT_EQ(zv_raw_stream_start(stream, 1.0), 0);
    const uint64_t sizes[] = {1, 7, 4095, 65537, 1 << 20, 3, 24576, 999999};
    for (int round = 0; round < 20; ++round)
        for (uint64_t n : sizes)
            read_continuing(n);
    EXPECT_EQ(zv_raw_stream_lost_total(stream), 0u);
    EXPECT_EQ(detector->dropped(), 0u);
    zv_raw_stream_stop(stream);

    // A detector without a clock loses exactly the packet that carries its loss marker; the
    // stream says so at the right place and counts on past it.
    detector->inject(zvsim::StreamFault::data_loss, 10, 3);
    have_next = false;
    ASSERT_EQ(zv_raw_stream_start(stream, 1.0), 0);
    read_continuing(10);
    const uint64_t before_marker = (10 - 4) * 16 * packet + 3 * packet - 10;
    read_continuing(before_marker);
    const zv_block block = read_continuing(100, packet);
    ASSERT_EQ(block.ngaps, 1u);
    EXPECT_EQ(block.gaps[0].index, 10 + before_marker);
    EXPECT_EQ(block.gaps[0].lost, packet);
    EXPECT_EQ(block.gaps[0].kind, ZV_LOSS_DEVICE);
    EXPECT_EQ(zv_raw_stream_lost_total(stream), packet);
}

TEST_F(RawStreamTest, ATimeOutLosesNothingAndAStopFromAnotherThreadEndsABlockedRead) {
    attach(true, 1000000); // a slow real-time detector: reads outrun it
    ASSERT_EQ(zv_raw_stream_start(stream, 1.0), 0);
    read_continuing(1000);
    std::vector<uint16_t> samples(10000000);
    zv_block block{};
    const auto asked = steady_clock::now();
    EXPECT_EQ(zv_raw_stream_read(stream, samples.data(), nullptr, samples.size(), 100, &block),
              ZV_ERROR_TIMEOUT);
    EXPECT_LT(steady_clock::now() - asked, milliseconds(1000));
    ASSERT_GT(block.count, 0u);
    ASSERT_LT(block.count, samples.size());
    EXPECT_EQ(block.index, next_index);
    EXPECT_EQ(samples[0], next_word);
    next_index += block.count;
    next_word = uint16_t(next_word + block.count);
    read_continuing(1000);

    std::thread stopper([&] {
        std::this_thread::sleep_for(milliseconds(100));
        zv_raw_stream_stop(stream);
    });
    EXPECT_EQ(zv_raw_stream_read(stream, samples.data(), nullptr, samples.size(), -1, &block),
              ZV_ERROR_STREAM_STATE);
    EXPECT_STREQ(zv_get_error_string(), "the stream was stopped");
    stopper.join();
    EXPECT_FALSE(zv_raw_stream_running(stream));
    EXPECT_EQ(zv_raw_stream_read(stream, samples.data(), nullptr, 1, 0, &block),
              ZV_ERROR_STREAM_STATE);
    EXPECT_STREQ(zv_get_error_string(), "the stream is not running: call start first");
}

TEST_F(RawStreamTest, AReaderThatFallsBehindLosesWholePacketsCountedExactly) {
    attach(true);
    ASSERT_EQ(zv_raw_stream_start(stream, 0.02), 0);
    read_continuing(100000);
    std::this_thread::sleep_for(milliseconds(300)); // 24 M samples arrive, the ring holds 1.6 M
    uint64_t lost = 0;
    std::vector<uint16_t> samples(1 << 16);
    uint16_t last = uint16_t(next_word - 1);
    for (int i = 0; i < 100 && lost == 0; ++i) {
        zv_block block{};
        ASSERT_EQ(zv_raw_stream_read(stream, samples.data(), nullptr, samples.size(), 1000, &block),
                  0);
        if (block.ngaps > 0) {
            ASSERT_EQ(block.ngaps, 1u);
            EXPECT_EQ(block.gaps[0].kind, ZV_LOSS_OVERFLOW);
            lost = block.gaps[0].lost;
            EXPECT_EQ(lost % packet, 0u);
            // The samples before and after the gap are exactly `lost` apart.
            const uint64_t at = block.gaps[0].index - block.index;
            const uint16_t before = at == 0 ? last : samples[at - 1];
            EXPECT_EQ(samples[at], uint16_t(before + 1 + lost));
        }
        last = samples.back();
    }
    EXPECT_GT(lost, 20000000u);
    EXPECT_EQ(zv_raw_stream_lost_total(stream), lost);
    EXPECT_EQ(detector->dropped(), 0u) << "the detector itself never fell behind";
}

TEST_F(RawStreamTest, SettingsWorkWhileStreamingAndAreNotedWhereTheyTakeEffect) {
    attach(false);
    ASSERT_EQ(zv_raw_stream_start(stream, 1.0), 0);
    read_continuing(1 << 20);
    EXPECT_EQ(zv_raw_stream_start(stream, 1.0), ZV_ERROR_STREAM_STATE);
    std::vector<uint16_t> buffer(10);
    EXPECT_EQ(zv_get_raw_data(dev, buffer.data(), buffer.size()), ZV_ERROR_STREAM_STATE);
    EXPECT_STREQ(zv_get_error_string(), "a stream is running on this detector: stop it first");
    EXPECT_EQ(zv_reset(dev), ZV_ERROR_STREAM_STATE);
    zv_raw_stream *second = zv_raw_stream_open(dev, true);
    EXPECT_EQ(zv_raw_stream_start(second, 1.0), ZV_ERROR_STREAM_STATE);
    EXPECT_STREQ(zv_get_error_string(), "a stream is already running on this detector");
    zv_raw_stream_close(second);

    std::thread other([&] {
        EXPECT_EQ(zv_set_highgain(dev, true), 0);
        EXPECT_EQ(zv_port_drive(dev, ZV_PORT_A, 1), 0);
    });
    other.join();
    EXPECT_EQ(detector->features()[ZV_FEATURE_HIGHGAIN], 1);
    std::vector<zv_setting_change> seen;
    for (int i = 0; i < 100 && seen.size() < 2; ++i) {
        const zv_block block = read_continuing(1 << 16);
        for (uint32_t k = 0; k < block.nchanges; ++k) {
            EXPECT_GE(block.changes[k].index, block.index);
            EXPECT_LT(block.changes[k].index, block.index + block.count);
            seen.push_back(block.changes[k]);
        }
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_STREQ(seen[0].name, "highgain");
    EXPECT_EQ(seen[0].value, 1.0);
    EXPECT_STREQ(seen[1].name, "port_A_drive");
    EXPECT_EQ(zv_raw_stream_lost_total(stream), 0u);
}

TEST_F(RawStreamTest, UnplugEndsTheReadWithTheUsbErrorAfterTheSamplesBeforeIt) {
    attach(true);
    ASSERT_EQ(zv_raw_stream_start(stream, 1.0), 0);
    read_continuing(100000);
    std::thread unplug([&] {
        std::this_thread::sleep_for(milliseconds(200));
        detector->detach();
    });
    std::vector<uint16_t> samples(1 << 20);
    zv_block block{};
    int status = 0;
    auto unplugged = steady_clock::now();
    while (status == 0) {
        status = zv_raw_stream_read(stream, samples.data(), nullptr, samples.size(), 5000, &block);
        if (status == 0) unplugged = steady_clock::now();
    }
    unplug.join();
    EXPECT_EQ(status, ZV_ERROR_USB) << zv_get_error_string();
    EXPECT_LT(steady_clock::now() - unplugged, milliseconds(1500));
    EXPECT_FALSE(zv_raw_stream_running(stream));
    zv_raw_stream_close(stream);
    zv_close(dev);
    // Closing the record under a stream that runs stops the stream first.
    zvsim::detach_all();
    attach(false);
    ASSERT_EQ(zv_raw_stream_start(stream, 1.0), 0);
    zv_close(dev);
    dev = nullptr;
    EXPECT_FALSE(zv_raw_stream_running(stream));
}

} // namespace
