// The detectors the end-to-end test plugs into the virtual machine, one usbredir server each.
// The servers serve them and the guest program checks against them, so what a detector is and
// what happens on its stream is written down once, here.
#pragma once

#include <cstdint>
#include <cstring>

namespace zve2e {

enum class Link : uint8_t { high_speed, superspeed };

// Something a server does to its stream, in the given collection (counted from 1 for each plug of
// the detector; a collection starts when the host selects the streaming alternate setting) once
// `after_packets` packets of it have been served. A collection of 0 means never.
struct StreamEvent {
    uint32_t collection;
    uint32_t after_packets;
};

struct Detector {
    const char *name; // names the server's socket and log
    const char *serial;
    const char *product_name; // as the library composes it from the serial
    uint16_t vendor;
    uint16_t product; // 0x007F: the unprogrammed detector, whose identity the host does not read
    Link link;
    uint8_t firmware[3];
    uint32_t samplerate; // the rate streamed, in samples per second, and the identity's value
    float calibrations[6][2];
    // A packet carrying the data-loss marker (the samples it held are lost).
    StreamEvent data_loss;
    // The detector is unplugged, and plugged in again `replug_ms` later.
    StreamEvent unplug;
    uint32_t replug_ms;
    // A vendor request code the detector never answers, as if its firmware hung (0: none).
    uint8_t unanswered_request;
};

// Isochronous service interval announced by the servers: bInterval 4, one packet per
// millisecond, a rate an emulated host controller keeps up with.
constexpr uint8_t kStreamInterval = 4;
// Samples in the packet that carries the data-loss marker: the marker needs more than 5120.
constexpr uint32_t kMarkerPacketSamples = 6144;

// The guest's collections on the superspeed detector, in the order it runs them; the events on
// that detector are placed by these numbers.
namespace superspeed_collection {
constexpr uint32_t kDataLoss = 4;
constexpr uint32_t kUnplug = 5;
} // namespace superspeed_collection

// The high-speed detector's last collection is a continuous stream, unplugged after more than
// twenty seconds of one packet a millisecond.
namespace highspeed_collection {
constexpr uint32_t kContinuous = 11;
constexpr uint32_t kUnplugAfterPackets = 21500;
} // namespace highspeed_collection

constexpr Detector kDetectors[] = {
    {"highspeed",
     "HLM25-S00001IC",
     "HLM25 1550nm FC",
     0x2E9D,
     0x0080,
     Link::high_speed,
     {1, 0, 2},
     500000,
     {{2.5e-3f, -1.25f}, {2.5e-2f, -12.5f}, {0.75f, 0.125f}, {0.0f, 0.0f}, {0, 0}, {0, 0}},
     {0, 0},
     {highspeed_collection::kContinuous, highspeed_collection::kUnplugAfterPackets},
     0,
     0x7E},
    {"superspeed",
     "HLM25-D00002VL",
     "HLM25 Balanced 760nm FL",
     0x04B4,
     0x0070,
     Link::superspeed,
     {1, 0, 1},
     400000,
     {{1e-3f, 0.5f}, {2e-3f, 1.0f}, {0.3f, 0.01f}, {0.4f, 0.02f}, {5e-3f, 2.0f}, {0.6f, 0.03f}},
     {superspeed_collection::kDataLoss, 200},
     {superspeed_collection::kUnplug, 300},
     1500,
     0},
    {"unprogrammed",
     "HLM25-X00003IC",
     "HLM25 ???nm ??",
     0x2E9D,
     0x007F,
     Link::high_speed,
     {1, 0, 2},
     500000,
     {},
     {0, 0},
     {0, 0},
     0,
     0},
};

constexpr size_t kDetectorCount = sizeof(kDetectors) / sizeof(kDetectors[0]);

inline const Detector *find_detector(const char *name) {
    for (const Detector &d : kDetectors)
        if (std::strcmp(d.name, name) == 0) return &d;
    return nullptr;
}

} // namespace zve2e
