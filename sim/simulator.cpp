#include "sim/simulator.h"

#include "sim/firmware/firmware.h"

#include <algorithm>
#include <stdexcept>

namespace zvsim {

namespace {

struct Attached {
    std::mutex mutex;
    std::vector<std::shared_ptr<SimulatedDetector>> detectors;
    uint64_t next_id = 1;
};

Attached &attached() {
    static Attached instance;
    return instance;
}

void forget(const SimulatedDetector *detector) {
    Attached &a = attached();
    std::lock_guard<std::mutex> lock(a.mutex);
    auto &list = a.detectors;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [detector](const auto &d) { return d.get() == detector; }),
               list.end());
}

} // namespace

SimulatedDetector::SimulatedDetector(const DetectorConfig &config, uint64_t id)
    : config_(config), path_("sim:" + std::to_string(id)), id_(id),
      firmware_(std::make_unique<Firmware>(config)) {}

SimulatedDetector::~SimulatedDetector() = default;

std::string SimulatedDetector::serial() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return identity_serial(firmware_->identity());
}

void SimulatedDetector::detach() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        detached_ = true;
    }
    changed_.notify_all();
    forget(this);
}

bool SimulatedDetector::detached() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return detached_;
}

std::vector<uint16_t> SimulatedDetector::samples() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return firmware_->samples().words();
}

void SimulatedDetector::set_samples(std::vector<uint16_t> words) {
    std::lock_guard<std::mutex> lock(mutex_);
    firmware_->samples().set_words(std::move(words));
}

size_t SimulatedDetector::position() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return firmware_->samples().position();
}

void SimulatedDetector::set_position(size_t position) {
    std::lock_guard<std::mutex> lock(mutex_);
    firmware_->samples().set_position(position);
}

uint64_t SimulatedDetector::produced() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return firmware_->samples().produced();
}

uint64_t SimulatedDetector::dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return firmware_->dropped_samples();
}

std::vector<LoggedRequest> SimulatedDetector::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto &entries = firmware_->log().entries();
    return std::vector<LoggedRequest>(entries.begin(), entries.end());
}

void SimulatedDetector::clear_requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    firmware_->log().clear();
}

void SimulatedDetector::fail_request(uint8_t request, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    firmware_->request_faults().stall(request, count);
}

void SimulatedDetector::hang_request(uint8_t request, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    firmware_->request_faults().hang(request, count);
}

void SimulatedDetector::respond(uint8_t request, std::vector<uint8_t> data, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    firmware_->request_faults().respond(request, std::move(data), count);
}

void SimulatedDetector::inject(StreamFault kind, uint32_t transfer, int packet) {
    std::lock_guard<std::mutex> lock(mutex_);
    firmware_->stream_faults().inject(kind, transfer, packet);
}

void SimulatedDetector::clear_faults() {
    std::lock_guard<std::mutex> lock(mutex_);
    firmware_->request_faults().clear();
    firmware_->stream_faults().clear();
}

void SimulatedDetector::override_descriptor(uint8_t type, uint8_t index,
                                            std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    firmware_->descriptors().override_descriptor(type, index, std::move(bytes));
}

void SimulatedDetector::clear_descriptor_overrides() {
    std::lock_guard<std::mutex> lock(mutex_);
    firmware_->descriptors().clear_overrides();
}

FeatureStates SimulatedDetector::features() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return firmware_->features();
}

std::map<uint8_t, uint16_t> SimulatedDetector::adc_registers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return firmware_->adc().written();
}

uint8_t SimulatedDetector::test_pattern() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return firmware_->adc().pattern().code();
}

std::array<PortRecord, kPortCount> SimulatedDetector::ports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::array<PortRecord, kPortCount> records;
    for (uint8_t p = 0; p < kPortCount; ++p)
        records[p] = decode_port_record(firmware_->ports().record(p));
    return records;
}

void SimulatedDetector::set_port_input(uint8_t port, int level) {
    if (port >= kPortCount) throw std::invalid_argument("port: 0 to 6");
    if (level != 0 && level != 1 && level != kInputFromStream)
        throw std::invalid_argument("level: 0, 1, or from the stream");
    std::lock_guard<std::mutex> lock(mutex_);
    firmware_->ports().set_input(port, level);
}

uint8_t SimulatedDetector::alt_setting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return firmware_->alt_setting();
}

uint32_t SimulatedDetector::stream_packet_size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return firmware_->descriptors().stream_packet_size();
}

std::shared_ptr<SimulatedDetector> attach(const DetectorConfig &config) {
    validate(config);
    Attached &a = attached();
    std::lock_guard<std::mutex> lock(a.mutex);
    auto detector = std::make_shared<SimulatedDetector>(config, a.next_id++);
    a.detectors.push_back(detector);
    return detector;
}

void detach_all() {
    for (const auto &detector : devices())
        detector->detach();
}

std::vector<std::shared_ptr<SimulatedDetector>> devices() {
    Attached &a = attached();
    std::lock_guard<std::mutex> lock(a.mutex);
    return a.detectors;
}

std::shared_ptr<SimulatedDetector> find_attached(const std::string &path) {
    for (const auto &detector : devices())
        if (detector->path() == path) return detector;
    return nullptr;
}

} // namespace zvsim
