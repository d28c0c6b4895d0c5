// What a simulated HLM25 is: its identity, USB identifiers, connection speed and the sample words
// it streams. A config is checked once, when the detector is built (validate).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zvsim {

enum class Speed : uint8_t { high, super };

struct Calibration {
    float gain = 0.0f;
    float offset = 0.0f;
};

struct DetectorConfig {
    // Identity block fields (ignored when `identity` holds a full block).
    std::string serial = "HLM25-S00001IC"; // at most 15 bytes
    std::array<uint8_t, 3> firmware = {1, 0, 2};
    uint32_t samplerate = 80000000;
    uint8_t adcbits = 14;
    std::array<Calibration, 6> calibrations = {};
    // A complete 72-byte identity block answered verbatim, or empty.
    std::vector<uint8_t> identity;

    // USB identity.
    uint16_t vendor = 0x2E9D;
    uint16_t product = 0x0080;
    Speed speed = Speed::super;
    std::string manufacturer = "zv";
    std::string product_name = "HLM25 (simulated)";

    // Raw words streamed in a loop; empty selects the default ramp of every 14-bit code.
    std::vector<uint16_t> samples;
    // Real-time mode: the detector samples at its sample rate in wall-clock time into a FIFO of
    // `fifo_samples` samples, from which the host's queued transfers are filled; a transfer
    // completes no earlier than its samples exist. When the host falls behind and the FIFO is
    // full, samples are dropped and the next packet able to carry it carries the data-loss
    // marker, as on a real detector.
    bool realtime = false;
    uint32_t fifo_samples = 65536;
};

// Throws std::invalid_argument naming the first field that cannot be served.
void validate(const DetectorConfig &config);

} // namespace zvsim
