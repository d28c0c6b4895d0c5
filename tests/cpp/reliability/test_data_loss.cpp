// Data loss is never silent: a real-time simulated detector read by a consumer that falls behind
// drops samples, and every gap is announced (data-lost flag and console warning), as is every
// damaged packet; a consumer that keeps up loses nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "libzv/libzv.h"
#include "libzv/sink_copy.h"
#include "sim/simulator.h"
#include "stream/zv_stream.h"

namespace {

using Clock = std::chrono::steady_clock;

// Loop length of the stream words: prime, so that a word tells its place in the stream.
constexpr uint64_t kLoop = 10007;

// A sink that checks the stream's continuity: every sample follows the one delivered before it
// unless the call carries the data-lost flag. It passes each call through the library's copy sink
// too, which prints the user's warning.
struct ContinuityWatch {
    std::shared_ptr<zvsim::SimulatedDetector> detector;
    uint64_t target = 0;                        // samples to deliver
    std::function<void(uint64_t delivered)> on; // runs after each call

    uint64_t delivered = 0;
    uint64_t dropped_before = 0; // by the detector, before the first delivered sample
    int flagged = 0;             // calls with the data-lost flag, after the first
    uint64_t flagged_gaps = 0;   // samples missing before flagged calls, modulo the loop
    int silent_gaps = 0;         // discontinuities without the flag: must never happen
    bool started = false;
    uint16_t last = 0;
    std::vector<uint16_t> copy;

    static int sink(const uint16_t *samples, int count, int data_lost, void *user) {
        auto &w = *static_cast<ContinuityWatch *>(user);
        if (count <= 0) return 1;
        if (!w.started) {
            w.started = true;
            w.dropped_before = w.detector->dropped();
        } else {
            const uint64_t gap = (samples[0] + kLoop - w.last - 1) % kLoop;
            if (data_lost) {
                ++w.flagged;
                w.flagged_gaps = (w.flagged_gaps + gap) % kLoop;
            } else if (gap != 0) {
                ++w.silent_gaps;
            }
        }
        if (samples[count - 1] != (samples[0] + uint64_t(count) - 1) % kLoop) ++w.silent_gaps;
        w.last = samples[count - 1];
        w.copy.resize(size_t(count));
        zv::CopySinkRecord record{w.copy.data(), uint64_t(count)};
        zv::copy_sink(samples, count, data_lost, &record);
        w.delivered += uint64_t(count);
        if (w.on) w.on(w.delivered);
        return w.delivered < w.target;
    }
};

// A stream's supply whose consumer stalls once, after its third block.
class StallingSupply : public ZVStreamSupply<float> {
  public:
    static constexpr int32_t kBlock = 131072;
    float *next_block(int32_t &count) override {
        count = kBlock;
        return block_.data();
    }
    uint8_t *flag_block(int32_t) override { return nullptr; }
    int32_t advance(int32_t, int32_t lost) override {
        if (lost) ++loss_reports;
        if (++blocks == 3) std::this_thread::sleep_for(std::chrono::milliseconds(250));
        return blocks < 80;
    }
    int blocks = 0;
    int loss_reports = 0;

  private:
    std::vector<float> block_ = std::vector<float>(kBlock);
};

class DataLoss : public ::testing::Test {
  protected:
    // A detector streaming the numbered words; real-time unless `samplerate` is 0.
    void open(uint32_t samplerate, uint32_t fifo_samples) {
        zvsim::DetectorConfig config;
        config.realtime = samplerate != 0;
        if (samplerate == 0) samplerate = 80000000;
        config.samplerate = samplerate;
        config.fifo_samples = fifo_samples;
        for (uint64_t i = 0; i < kLoop; ++i)
            config.samples.push_back(uint16_t(i));
        detector = zvsim::attach(config);
        dev = zv_open_serial(detector->serial().c_str());
        ASSERT_NE(dev, nullptr) << zv_get_error_string();
        packet = detector->stream_packet_size() / 2;
        watch.detector = detector;
    }

    void TearDown() override {
        zv_close(dev);
        zvsim::detach_all();
    }

    std::shared_ptr<zvsim::SimulatedDetector> detector;
    zv_device *dev = nullptr;
    uint64_t packet = 0;
    ContinuityWatch watch;
};

TEST_F(DataLoss, AConsumerThatFallsBehindSeesTheMarkerAndTheWarning) {
    // 80 MS/s: the sixteen queued transfers hold about 79 ms and the FIFO 13 ms; a consumer that
    // stalls for 250 ms loses samples.
    open(80000000, 1u << 20);
    watch.target = 40000000;
    bool stalled = false;
    uint64_t dropped_at_stall = 0;
    watch.on = [&](uint64_t delivered) {
        if (stalled || delivered < 4000000) return;
        stalled = true;
        dropped_at_stall = detector->dropped();
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    };
    testing::internal::CaptureStdout();
    const int status = zv_collect(dev, ContinuityWatch::sink, &watch);
    const std::string console = testing::internal::GetCapturedStdout();

    EXPECT_EQ(status, 0) << zv_get_error_string();
    EXPECT_EQ(watch.silent_gaps, 0);
    EXPECT_GE(watch.flagged, 1);
    const uint64_t lost = detector->dropped() - watch.dropped_before;
    EXPECT_GT(detector->dropped(), dropped_at_stall);
    // Each flagged gap is the samples the FIFO dropped plus the packet that carried the marker.
    EXPECT_EQ(watch.flagged_gaps, (lost + uint64_t(watch.flagged) * packet) % kLoop);
    EXPECT_NE(console.find("warning: data loss detected!\n"), std::string::npos);
}

TEST_F(DataLoss, DamagedPacketsAreAnnouncedLikeTheMarker) {
    open(0, 1);
    // Transfers from 4 on are delivered (the first four settle the stream).
    detector->inject(zvsim::StreamFault::bad_status, 5, 3);
    detector->inject(zvsim::StreamFault::bad_length, 6, zvsim::kEveryPacket);
    detector->inject(zvsim::StreamFault::data_loss, 8, 0);
    watch.target = 10 * 16 * packet;
    testing::internal::CaptureStdout();
    EXPECT_EQ(zv_collect(dev, ContinuityWatch::sink, &watch), 0) << zv_get_error_string();
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(watch.silent_gaps, 0);
    EXPECT_EQ(watch.flagged, 3);
    EXPECT_EQ(watch.flagged_gaps, (packet + 16 * packet + packet) % kLoop);
    EXPECT_NE(console.find("warning: data loss detected!\n"), std::string::npos);
}

TEST_F(DataLoss, AStreamThatFallsBehindTellsItsSupplyAndTheUser) {
    open(80000000, 1u << 20);
    std::unique_ptr<ZVStream<float>> stream(zv_open_stream_float(dev));
    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->set_calibration_mode("none"), 0);
    StallingSupply supply;
    testing::internal::CaptureStdout();
    const int status = stream->run(&supply);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0) << zv_get_error_string();
    EXPECT_GT(detector->dropped(), 0u);
    EXPECT_GE(supply.loss_reports, 1);
    EXPECT_NE(console.find("warning: data loss detected!\n"), std::string::npos);
}

TEST_F(DataLoss, AConsumerThatKeepsUpLosesNothingOverASustainedRun) {
    open(20000000, 8u << 20);
    watch.target = 30000000;
    const auto start = Clock::now();
    testing::internal::CaptureStdout();
    const int status = zv_collect(dev, ContinuityWatch::sink, &watch);
    const std::string console = testing::internal::GetCapturedStdout();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    EXPECT_EQ(status, 0) << zv_get_error_string();
    EXPECT_EQ(detector->dropped(), 0u);
    EXPECT_EQ(watch.flagged, 0);
    EXPECT_EQ(watch.silent_gaps, 0);
    EXPECT_EQ(console.find("warning"), std::string::npos);
    // Paced by the sample rate: the samples cannot arrive faster than they are sampled.
    EXPECT_GE(seconds, double(watch.target) / 20000000);
}

} // namespace
