// A simulated detector opened through the library, for the acquisition tests: its stream words,
// packet geometry and fault injection.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "libzv/libzv.h"
#include "sim/simulator.h"

class SimDetectorTest : public ::testing::Test {
  protected:
    // Plugs in a detector streaming `words` in a loop (empty: the default ramp) and opens it.
    void attach(std::vector<uint16_t> words = {}) {
        zvsim::DetectorConfig config;
        config.samples = std::move(words);
        detector = zvsim::attach(config);
        dev = zv_open_serial(detector->serial().c_str());
        ASSERT_NE(dev, nullptr) << zv_get_error_string();
        packet = detector->stream_packet_size() / 2;
        transfer = 16 * packet;
    }

    void TearDown() override {
        zv_close(dev);
        zvsim::detach_all();
    }

    std::shared_ptr<zvsim::SimulatedDetector> detector;
    zv_device *dev = nullptr;
    uint64_t packet = 0;   // samples per packet
    uint64_t transfer = 0; // samples per transfer of sixteen packets
};
