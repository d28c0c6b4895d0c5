// Unplugging a detector while a call waits on it: the call ends with a clean error well before
// its own time-out, every later call on the handle fails the same way, and the process goes on to
// use the next detector as if nothing had happened.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "libzv/libzv.h"
#include "sim/simulator.h"
#include "stream/zv_stream.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kFeatureRead = 0xCD;
constexpr auto kUnplugAfter = std::chrono::milliseconds(150);
// Vendor requests time out after 1000 ms: an unplug must end them well before.
constexpr double kPromptSeconds = 0.8;

class Unplug : public ::testing::Test {
  protected:
    void TearDown() override {
        if (unplugger.joinable()) unplugger.join();
        zv_close(dev);
        zvsim::detach_all();
    }

    void open(bool realtime = false) {
        zvsim::DetectorConfig config;
        config.realtime = realtime;
        detector = zvsim::attach(config);
        dev = zv_open_serial(detector->serial().c_str());
        ASSERT_NE(dev, nullptr) << zv_get_error_string();
    }

    void unplug_soon() {
        unplugger = std::thread([d = detector] {
            std::this_thread::sleep_for(kUnplugAfter);
            d->detach();
        });
    }

    static double since(Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    // A new detector opens and streams: the unplug left nothing behind.
    static void expect_next_detector_works() {
        zvsim::DetectorConfig config;
        config.serial = "HLM25-S00077IC";
        auto next = zvsim::attach(config);
        zv_device *d = zv_open_serial("00077");
        ASSERT_NE(d, nullptr) << zv_get_error_string();
        std::vector<uint16_t> samples(100000);
        EXPECT_EQ(zv_get_raw_data(d, samples.data(), samples.size()), 0) << zv_get_error_string();
        EXPECT_EQ(samples[1], uint16_t(samples[0] + 1) % 16384);
        zv_close(d);
    }

    std::shared_ptr<zvsim::SimulatedDetector> detector;
    zv_device *dev = nullptr;
    std::thread unplugger;
};

TEST_F(Unplug, DuringAControlRequest) {
    open();
    detector->hang_request(kFeatureRead);
    unplug_soon();
    const auto start = Clock::now();
    EXPECT_EQ(zv_read_feature(dev, ZV_FEATURE_HIGHGAIN), -1);
    EXPECT_LT(since(start), kPromptSeconds);
    EXPECT_EQ(zv_get_error(), 32);
    EXPECT_STREQ(zv_get_error_string(), "usb in request error");
    // Later requests fail at once.
    const auto again = Clock::now();
    EXPECT_EQ(zv_set_highgain(dev, true), 32);
    EXPECT_LT(since(again), kPromptSeconds);
    expect_next_detector_works();
}

TEST_F(Unplug, DuringAProcessedStream) {
    open(true);
    std::unique_ptr<ZVStream<float>> stream(zv_open_stream_float(dev));
    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->set_decimation(10), 0);
    // Paced at 80 MS/s, 40 million raw samples (4 million decimated) take half a second.
    std::vector<float> out(4000000);
    unplug_soon();
    const auto start = Clock::now();
    testing::internal::CaptureStdout();
    const int status = stream->acquire(out.size(), out.data(), nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_LT(since(start), 5.0);
    EXPECT_EQ(status, 32);
    EXPECT_EQ(zv_get_error(), 32);
    // The stream stays usable as an object; it reports the lost device again.
    testing::internal::CaptureStdout();
    EXPECT_NE(stream->acquire(10, out.data(), nullptr), 0);
    testing::internal::GetCapturedStdout();
    stream.reset();
    expect_next_detector_works();
}

} // namespace
