// A simulated detector opened through the library, with a stream of element type T on it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "libzv/libzv.h"
#include "sim/simulator.h"
#include "stream/zv_stream.h"

// Loop length of the words the detector streams: prime, so that a word tells its place.
constexpr uint64_t kWordLoop = 10007;

// Word i carries the code i and the port levels i % 4 (S in bit 14, T in bit 15).
inline std::vector<uint16_t> numbered_words_with_ports() {
    std::vector<uint16_t> words(kWordLoop);
    for (uint64_t i = 0; i < kWordLoop; ++i)
        words[i] = static_cast<uint16_t>(i | ((i % 4) << 14));
    return words;
}

template <typename T> class SimStream : public ::testing::Test {
  protected:
    void open(zvsim::DetectorConfig config) {
        detector = zvsim::attach(config);
        dev = zv_open_serial(detector->serial().c_str());
        ASSERT_NE(dev, nullptr) << zv_get_error_string();
        if constexpr (std::is_same_v<T, float>)
            stream.reset(zv_open_stream_float(dev));
        else
            stream.reset(zv_open_stream_double(dev));
        ASSERT_TRUE(stream);
    }

    void open_numbered() {
        zvsim::DetectorConfig config;
        config.samples = numbered_words_with_ports();
        open(config);
    }

    void TearDown() override {
        stream.reset();
        zv_close(dev);
        zvsim::detach_all();
    }

    std::shared_ptr<zvsim::SimulatedDetector> detector;
    zv_device *dev = nullptr;
    std::unique_ptr<ZVStream<T>> stream;
};
