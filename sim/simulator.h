// Simulated HLM25 detectors for tests and demonstrations. attach() plugs one in: from then on the
// library finds it through the driver of the second interface class (after every real detector),
// in attach order, and talks to it exactly as to a real one. A SimulatedDetector gives tests the
// firmware state, the log of vendor requests and ways to inject faults.
//
// Sample stream: the detector plays its sample words in a loop. Every isochronous packet it fills
// takes the next words, including packets the host discards or that carry an injected fault, so
// a collection's first packet follows on from the last packet of the previous one. Test patterns
// and the S and T port bits are applied on top (see sim/firmware/).
//
// Thread-safe: the detector's state is guarded, so a test may unplug or inspect a detector while
// another thread collects from it.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "libzv/libzv.h"
#include "sim/firmware/detector_config.h"
#include "sim/firmware/features.h"
#include "sim/firmware/identity_block.h"
#include "sim/firmware/port_bank.h"
#include "sim/firmware/request_faults.h"
#include "sim/firmware/request_log.h"
#include "sim/firmware/stream_faults.h"

namespace zvsim {

class Firmware;
class SimBackendDevice;

class ZV_API SimulatedDetector {
  public:
    // Use attach(); `config` must have passed validate().
    SimulatedDetector(const DetectorConfig &config, uint64_t id);
    ~SimulatedDetector();
    SimulatedDetector(const SimulatedDetector &) = delete;
    SimulatedDetector &operator=(const SimulatedDetector &) = delete;

    const DetectorConfig &config() const { return config_; }
    // The device path the simulator driver lists it under ("sim:<id>").
    const std::string &path() const { return path_; }
    // The serial text of its identity block.
    std::string serial() const;
    Speed speed() const { return config_.speed; }

    // Unplugs the detector: it leaves the driver's list, requests in flight complete with
    // "device not connected", and every later operation on an open handle fails the same way.
    void detach();
    bool detached() const;

    // The words streamed in a loop; setting them restarts the loop at position 0.
    std::vector<uint16_t> samples() const;
    void set_samples(std::vector<uint16_t> words);
    // Index in samples() of the next word to be streamed.
    size_t position() const;
    void set_position(size_t position);
    // Words streamed since attach (the sample number the test patterns and ports run on),
    // dropped ones included.
    uint64_t produced() const;
    // Samples the real-time FIFO dropped because the host fell behind, since attach.
    uint64_t dropped() const;

    // Vendor requests received, oldest first.
    std::vector<LoggedRequest> requests() const;
    void clear_requests();

    // Stalls the next `count` requests with this code (RequestFaults::kUntilCleared: all).
    void fail_request(uint8_t request, int count = 1);
    // Leaves the next `count` requests with this code unanswered: they stay outstanding until
    // the host cancels them (its time-out) or the detector is unplugged.
    void hang_request(uint8_t request, int count = 1);
    // Answers the next `count` IN requests with this code with `data`.
    void respond(uint8_t request, std::vector<uint8_t> data, int count = 1);
    // A stream fault for transfer `transfer` (counted from the start of the next collection, the
    // transfers the host discards included) and packet `packet` (kEveryPacket: all of them).
    void inject(StreamFault kind, uint32_t transfer = 0, int packet = kEveryPacket);
    // Forgets every request and stream fault.
    void clear_faults();
    // Serves `bytes` for the descriptor (type, index) from now on, to drive malformed tables.
    void override_descriptor(uint8_t type, uint8_t index, std::vector<uint8_t> bytes);
    void clear_descriptor_overrides();

    // Firmware state.
    FeatureStates features() const;
    std::map<uint8_t, uint16_t> adc_registers() const;
    uint8_t test_pattern() const; // the pattern code in effect
    std::array<PortRecord, kPortCount> ports() const;
    // Input level of a port in input mode: 0, 1 or kInputFromStream (for S and T the level comes
    // from bits 14 and 15 of the sample words; the others read 0).
    void set_port_input(uint8_t port, int level);
    uint8_t alt_setting() const;
    // Bytes per packet of the stream endpoint.
    uint32_t stream_packet_size() const;

  private:
    friend class SimBackendDevice;

    const DetectorConfig config_;
    const std::string path_;
    const uint64_t id_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;          // detach, abort, new work: wakes pumping waiters
    const std::unique_ptr<Firmware> firmware_; // sim/firmware/firmware.h
    bool detached_ = false;
};

// Plugs in a simulated detector. Throws std::invalid_argument for a config it cannot serve.
ZV_API std::shared_ptr<SimulatedDetector> attach(const DetectorConfig &config);
// Unplugs every attached detector.
ZV_API void detach_all();
// The attached detectors, in attach order.
ZV_API std::vector<std::shared_ptr<SimulatedDetector>> devices();
// The attached detector listed under `path`, or null.
std::shared_ptr<SimulatedDetector> find_attached(const std::string &path);

} // namespace zvsim
