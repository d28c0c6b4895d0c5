// A scripted BackendDevice for the transport's tests: it serves descriptor bytes, answers or
// holds back transfers as the test script says, and records what it was asked. Its state lives in
// a FakeScript the test keeps, so it can be inspected after the transport owns the device.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "usb/backend_device.h"
#include "usb/driver.h"
#include "usb/interface_classes.h"

namespace zvtest {

struct TransferCall {
    uint8_t endpoint;
    uint32_t length;
    uint32_t npackets;
    uint32_t max_packet_size;
};

struct FakeScript {
    // Descriptors by (type << 8 | index), as GET_DESCRIPTOR returns them.
    std::map<uint16_t, std::vector<uint8_t>> descriptors;
    // Vendor IN requests by request code: the bytes returned.
    std::map<uint8_t, std::vector<uint8_t>> vendor_in;

    uint8_t alt = 0;
    std::vector<uint8_t> alts = {0, 1}; // settings the device accepts
    uint32_t speed = 2;
    uint8_t address = 7;
    std::string name = "fake detector";
    uint32_t packet_size = 0; // answer of max_packet_size (0 = unknown)

    // Behaviour.
    bool complete_in_call = false; // otherwise requests complete in pump()
    bool hold_control = false;     // control requests never complete until aborted
    bool hold_transfers = false;   // endpoint transfers never complete until aborted
    // Fills an isochronous transfer: packet table entries and data. Default: every packet full
    // with bytes equal to the packet number.
    std::function<void(uint8_t *buffer, uint32_t length, zvusb::IsoPacketInfo *packets,
                       uint32_t npackets, uint32_t packet)>
        iso_fill;

    // What was asked.
    std::vector<zvusb::ControlSetup> controls;
    std::vector<std::vector<uint8_t>> control_out_data;
    std::vector<TransferCall> transfers;
    std::vector<uint8_t> aborts, resets, alt_requests;
    int pumps = 0;
    size_t outstanding = 0; // operations accepted and not yet completed
    bool destroyed = false;
    bool unplugged = false;
};

class FakeBackendDevice : public zvusb::BackendDevice {
  public:
    explicit FakeBackendDevice(std::shared_ptr<FakeScript> script);
    ~FakeBackendDevice() override;

    void pump(uint32_t timeout_ms) override;
    void control(const zvusb::ControlSetup &setup, uint8_t *data, uint32_t timeout_ms,
                 zvusb::Completion done) override;
    void transfer(uint8_t endpoint, uint8_t *buffer, uint32_t length, zvusb::IsoPacketInfo *packets,
                  uint32_t npackets, uint32_t max_packet_size, zvusb::Completion done) override;
    void abort(uint8_t endpoint) override;
    uint32_t reset_endpoint(uint8_t endpoint) override;
    uint32_t alt_setting(uint8_t *alt) override;
    uint32_t set_alt_setting(uint8_t alt) override;
    uint32_t speed() override { return script_->speed; }
    uint8_t address() override { return script_->address; }
    std::string name() override { return script_->name; }
    uint32_t max_packet_size(uint8_t) override { return script_->packet_size; }

    // Pulls the plug: every operation in flight completes with "device not connected", and later
    // ones fail at once.
    void unplug();

  private:
    struct Operation {
        uint8_t endpoint;
        bool held;
        bool cancelled = false;
        std::function<void(uint32_t &usb_status, uint32_t &error, uint32_t &bytes)> result;
        zvusb::Completion done;
    };
    void accept(Operation op);
    void finish(Operation &op, uint32_t usb_status, uint32_t error, uint32_t bytes);

    std::shared_ptr<FakeScript> script_;
    std::deque<Operation> queue_;
};

// A Driver for a test interface class whose devices are fake.
class FakeDriver : public zvusb::Driver {
  public:
    const char *name() const override { return "fake"; }
    std::vector<std::string> device_paths() override;
    std::unique_ptr<zvusb::DriverHandle> open(const std::string &path, uint32_t *error) override;
    std::string last_open_problem() const override { return problem; }

    // Adds a device at `path` played by `script`.
    void add(const std::string &path, std::shared_ptr<FakeScript> script) {
        devices.emplace_back(path, std::move(script));
    }
    std::vector<std::pair<std::string, std::shared_ptr<FakeScript>>> devices;
    uint32_t open_error = 0; // when non-zero, every open fails with it
    std::string problem;
    FakeBackendDevice *last_opened = nullptr;
};

// The interface class the tests register their fake driver for.
constexpr zvusb::Guid kTestClass = {
    0x12345678, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};

// A script serving a good high-speed detector: device descriptor, strings, the usual
// configuration (descriptor_builder.h).
std::shared_ptr<FakeScript> detector_script(uint16_t bcd_usb = 0x0200, uint16_t packet = 1024);

} // namespace zvtest
