// A GoogleTest fixture over simulated detectors: attach detectors with chosen identities, read the
// vendor requests they received, and unplug them all after each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "libzv.h"
#include "sim/simulator.h"

class SimTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (zv_device *dev : opened_)
            zv_close(dev);
        zvsim::detach_all();
    }

    static zvsim::DetectorConfig config(const std::string &serial,
                                        std::array<uint8_t, 3> firmware = {1, 0, 2}) {
        zvsim::DetectorConfig c;
        c.serial = serial;
        c.firmware = firmware;
        return c;
    }

    std::shared_ptr<zvsim::SimulatedDetector> attach(const zvsim::DetectorConfig &c) {
        return zvsim::attach(c);
    }
    std::shared_ptr<zvsim::SimulatedDetector> attach(const std::string &serial,
                                                     std::array<uint8_t, 3> firmware = {1, 0, 2}) {
        return zvsim::attach(config(serial, firmware));
    }

    // Opens the first detector; closed at the end of the test.
    zv_device *open() { return keep(zv_open()); }
    zv_device *open_serial(const char *text) { return keep(zv_open_serial(text)); }
    zv_device *keep(zv_device *dev) {
        if (dev != nullptr) opened_.push_back(dev);
        return dev;
    }
    void close(zv_device *dev) {
        for (auto it = opened_.begin(); it != opened_.end(); ++it)
            if (*it == dev) {
                opened_.erase(it);
                break;
            }
        zv_close(dev);
    }

    // Opens the only attached detector and forgets the identity read, so a test sees only its own
    // requests.
    zv_device *open_clean(const std::shared_ptr<zvsim::SimulatedDetector> &det) {
        zv_device *dev = open();
        det->clear_requests();
        return dev;
    }

    static std::string error_string() { return zv_get_error_string(); }

  private:
    std::vector<zv_device *> opened_;
};

// A request as the tests compare it.
struct Request {
    bool in;
    int request, value, index;
    std::vector<uint8_t> data;
    bool operator==(const Request &o) const {
        return in == o.in && request == o.request && value == o.value && index == o.index &&
               data == o.data;
    }
};

inline std::ostream &operator<<(std::ostream &os, const Request &r) {
    os << (r.in ? "in " : "out ") << std::hex << "0x" << r.request << " value " << std::dec
       << r.value << " index " << r.index << " data [";
    for (uint8_t b : r.data)
        os << ' ' << int(b);
    return os << " ]";
}

inline std::vector<Request> requests_of(const zvsim::SimulatedDetector &det) {
    std::vector<Request> out;
    for (const zvsim::LoggedRequest &r : det.requests())
        out.push_back({r.in, r.request, r.value, r.index, r.data});
    return out;
}

// A port command record as sent over the wire.
inline std::vector<uint8_t> port_record(uint8_t mode, uint8_t level, uint32_t period,
                                        uint32_t threshold) {
    std::vector<uint8_t> r(10, 0);
    r[0] = mode;
    r[1] = level;
    for (int i = 0; i < 4; ++i) {
        r[2 + i] = uint8_t(period >> (8 * i));
        r[6 + i] = uint8_t(threshold >> (8 * i));
    }
    return r;
}
