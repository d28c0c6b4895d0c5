#include "fake_backend_device.h"

#include <algorithm>
#include <cstring>

#include "descriptor_builder.h"
#include "usb/record_driver_handle.h"
#include "usb/system_errors.h"
#include "usb/usb_status.h"

using namespace zvusb;

namespace zvtest {

FakeBackendDevice::FakeBackendDevice(std::shared_ptr<FakeScript> script)
    : script_(std::move(script)) {}

FakeBackendDevice::~FakeBackendDevice() {
    for (Operation &op : queue_)
        finish(op, kUsbStatusCanceled, kErrorOperationAborted, 0);
    queue_.clear();
    script_->destroyed = true;
}

void FakeBackendDevice::finish(Operation &op, uint32_t usb_status, uint32_t error, uint32_t bytes) {
    --script_->outstanding;
    Completion done = std::move(op.done);
    done(usb_status, error, bytes);
}

void FakeBackendDevice::accept(Operation op) {
    ++script_->outstanding;
    if (script_->unplugged) {
        finish(op, kUsbStatusDeviceGone, kErrorDeviceNotConnected, 0);
        return;
    }
    if (script_->complete_in_call && !op.held) {
        uint32_t usb = 0, error = 0, bytes = 0;
        op.result(usb, error, bytes);
        finish(op, usb, error, bytes);
        return;
    }
    queue_.push_back(std::move(op));
}

void FakeBackendDevice::pump(uint32_t) {
    ++script_->pumps;
    // Completes everything that is ready; held operations wait for an abort.
    std::deque<Operation> ready;
    for (auto it = queue_.begin(); it != queue_.end();) {
        if (!it->held || it->cancelled) {
            ready.push_back(std::move(*it));
            it = queue_.erase(it);
        } else {
            ++it;
        }
    }
    for (Operation &op : ready) {
        if (op.cancelled) {
            finish(op, kUsbStatusCanceled, kErrorOperationAborted, 0);
            continue;
        }
        uint32_t usb = 0, error = 0, bytes = 0;
        op.result(usb, error, bytes);
        finish(op, usb, error, bytes);
    }
}

void FakeBackendDevice::control(const ControlSetup &setup, uint8_t *data, uint32_t,
                                Completion done) {
    script_->controls.push_back(setup);
    const bool in = (setup.bmRequestType & 0x80) != 0;
    if (!in) script_->control_out_data.emplace_back(data, data + setup.wLength);
    Operation op;
    op.endpoint = 0;
    op.held = script_->hold_control;
    std::shared_ptr<FakeScript> script = script_;
    op.result = [script, setup, data, in](uint32_t &usb, uint32_t &error, uint32_t &bytes) {
        const std::vector<uint8_t> *reply = nullptr;
        if (in && setup.bmRequestType == 0x80 && setup.bRequest == 6) {
            auto it = script->descriptors.find(setup.wValue);
            if (it != script->descriptors.end()) reply = &it->second;
        } else if (in) {
            auto it = script->vendor_in.find(setup.bRequest);
            if (it != script->vendor_in.end()) reply = &it->second;
        } else {
            bytes = setup.wLength;
            return;
        }
        if (reply == nullptr) {
            usb = kUsbStatusStall;
            error = kErrorGenFailure;
            return;
        }
        bytes = uint32_t(std::min<size_t>(reply->size(), setup.wLength));
        if (bytes > 0) std::memcpy(data, reply->data(), bytes);
    };
    op.done = std::move(done);
    accept(std::move(op));
}

void FakeBackendDevice::transfer(uint8_t endpoint, uint8_t *buffer, uint32_t length,
                                 IsoPacketInfo *packets, uint32_t npackets,
                                 uint32_t max_packet_size, Completion done) {
    script_->transfers.push_back({endpoint, length, npackets, max_packet_size});
    Operation op;
    op.endpoint = endpoint;
    op.held = script_->hold_transfers;
    std::shared_ptr<FakeScript> script = script_;
    op.result = [script, buffer, length, packets, npackets, max_packet_size](uint32_t &, uint32_t &,
                                                                             uint32_t &bytes) {
        if (packets == nullptr) {
            std::memset(buffer, 0xA5, length);
            bytes = length;
            return;
        }
        if (script->iso_fill) {
            script->iso_fill(buffer, length, packets, npackets, max_packet_size);
        } else {
            for (uint32_t k = 0; k < npackets; ++k) {
                uint32_t start = k * max_packet_size;
                uint32_t size = start >= length ? 0 : std::min(max_packet_size, length - start);
                std::memset(buffer + start, int(k), size);
                packets[k] = IsoPacketInfo{0, size};
            }
        }
        bytes = 0;
        for (uint32_t k = 0; k < npackets; ++k)
            bytes += packets[k].length;
    };
    op.done = std::move(done);
    accept(std::move(op));
}

void FakeBackendDevice::abort(uint8_t endpoint) {
    script_->aborts.push_back(endpoint);
    for (Operation &op : queue_)
        if (op.endpoint == endpoint) op.cancelled = true;
}

uint32_t FakeBackendDevice::reset_endpoint(uint8_t endpoint) {
    script_->resets.push_back(endpoint);
    return kErrorSuccess;
}

uint32_t FakeBackendDevice::alt_setting(uint8_t *alt) {
    *alt = script_->alt;
    return kErrorSuccess;
}

uint32_t FakeBackendDevice::set_alt_setting(uint8_t alt) {
    script_->alt_requests.push_back(alt);
    if (std::find(script_->alts.begin(), script_->alts.end(), alt) == script_->alts.end())
        return kErrorGenFailure;
    script_->alt = alt;
    return kErrorSuccess;
}

void FakeBackendDevice::unplug() {
    script_->unplugged = true;
    std::deque<Operation> all;
    all.swap(queue_);
    for (Operation &op : all)
        finish(op, kUsbStatusDeviceGone, kErrorDeviceNotConnected, 0);
}

std::vector<std::string> FakeDriver::device_paths() {
    std::vector<std::string> paths;
    for (auto &d : devices)
        paths.push_back(d.first);
    return paths;
}

std::unique_ptr<DriverHandle> FakeDriver::open(const std::string &path, uint32_t *error) {
    if (open_error != 0) {
        *error = open_error;
        return nullptr;
    }
    for (auto &d : devices)
        if (d.first == path) {
            auto backend = std::make_unique<FakeBackendDevice>(d.second);
            last_opened = backend.get();
            return std::make_unique<RecordDriverHandle>(std::move(backend));
        }
    *error = kErrorFileNotFound;
    return nullptr;
}

std::shared_ptr<FakeScript> detector_script(uint16_t bcd_usb, uint16_t packet) {
    auto s = std::make_shared<FakeScript>();
    s->descriptors[0x0100] = device_descriptor(bcd_usb, 0x2E9D, 0x0080);
    s->descriptors[0x0300] = language_descriptor({0x0407, 0x0409});
    s->descriptors[0x0301] = string_descriptor(u"Zv Instruments");
    s->descriptors[0x0302] = string_descriptor(u"HLM25");
    s->descriptors[0x0303] = string_descriptor(u"A1B2C3");
    s->descriptors[0x0200] = detector_configuration(packet);
    return s;
}

} // namespace zvtest
