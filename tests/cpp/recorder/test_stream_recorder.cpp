// The recorder on a real-time simulated detector whose 16-bit words count up in a loop of 65536:
// a writer that stalls makes the stream's ring overflow, and the recording must say where and
// how much, so the count read back jumps by exactly the lost samples at each row of its gap table
// and nowhere else.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "libzv/libzv.h"
#include "recorder/hdf5_support.h"
#include "recorder/recorder.h"
#include "recorder/recording_reader.h"
#include "sim/simulator.h"

namespace {

using zv::recording::Recorder;
using zv::recording::RecorderOptions;
using zv::recording::RecordingReader;

TEST(StreamRecorder, AStalledWriterLeavesOverflowGapsExactlyWhereTheSamplesAreMissing) {
    zvsim::DetectorConfig config;
    config.samples.resize(65536);
    std::iota(config.samples.begin(), config.samples.end(), uint16_t(0));
    config.realtime = true;
    config.samplerate = 20000000;   // the smallest ring (1 Mi samples) lasts 52 ms
    config.fifo_samples = 1u << 24; // the detector itself never drops
    auto detector = zvsim::attach(config);
    zv_device *dev = zv_open_serial(detector->serial().c_str());
    ASSERT_NE(dev, nullptr) << zv_get_error_string();
    zv_raw_stream *stream = zv_raw_stream_open(dev, false);
    char folder[] = "/tmp/zv-stream-recorder-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/stalled.h5";

    RecorderOptions options;
    options.nsamples = 6000000;
    options.buffer_seconds = 0.01;
    options.writer.chunk_samples = 65536;
    int appended = 0;
    // Every fifth block waits four times as long as the ring lasts.
    options.before_append = [&appended] {
        if (++appended % 5 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    };
    auto recorder = Recorder::start(zv::recording::recorded_raw_stream(stream), path, options);
    ASSERT_TRUE(recorder) << zv_get_error_string();
    EXPECT_EQ(recorder->wait(60000), 0) << zv_get_error_string();
    EXPECT_FALSE(zv_raw_stream_running(stream)); // the recorder started it and stopped it
    const uint64_t lost = recorder->lost();
    recorder.reset();

    const zv::recording::QuietHdf5 quiet;
    RecordingReader reader(path);
    ASSERT_EQ(reader.length(), options.nsamples);
    std::vector<uint16_t> words(reader.length());
    reader.read(0, words.size(), words.data());
    const auto &gaps = reader.gaps();
    ASSERT_GE(gaps.size(), 3u);
    uint64_t gap_lost = 0;
    size_t g = 0;
    for (uint64_t i = 1; i < words.size(); ++i) {
        const uint16_t step = uint16_t(words[i] - words[i - 1]);
        if (g < gaps.size() && gaps[g].index == i) {
            EXPECT_EQ(gaps[g].kind, ZV_LOSS_OVERFLOW);
            EXPECT_EQ(step, uint16_t(1 + gaps[g].lost)) << "gap " << g << " at " << i;
            gap_lost += gaps[g].lost;
            ++g;
        } else {
            ASSERT_EQ(step, 1u) << "the count breaks at stored sample " << i;
        }
    }
    EXPECT_EQ(g, gaps.size());
    EXPECT_EQ(gap_lost, lost);
    EXPECT_EQ(detector->dropped(), 0u);

    zv_raw_stream_close(stream);
    zv_close(dev);
    zvsim::detach_all();
    std::system((std::string("rm -rf '") + folder + "'").c_str());
}

} // namespace
