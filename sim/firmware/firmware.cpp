#include "sim/firmware/firmware.h"

#include <algorithm>
#include <cstring>

#include "sim/firmware/data_loss_marker.h"
#include "sim/firmware/vendor_requests.h"

namespace zvsim {

namespace {

constexpr uint8_t kDirectionIn = 0x80;
constexpr uint8_t kTypeStandard = 0;
constexpr uint8_t kTypeVendor = 2;

namespace standard_request {
constexpr uint8_t kGetStatus = 0;
constexpr uint8_t kClearFeature = 1;
constexpr uint8_t kGetDescriptor = 6;
constexpr uint8_t kGetConfiguration = 8;
constexpr uint8_t kSetConfiguration = 9;
constexpr uint8_t kGetInterface = 10;
constexpr uint8_t kSetInterface = 11;
constexpr uint8_t kSetSel = 48;        // SuperSpeed: the link's exit latencies, 6 bytes
constexpr uint8_t kSetIsochDelay = 49; // SuperSpeed: the host's isochronous delay
} // namespace standard_request

constexpr uint8_t kRecipientMask = 0x1F;
constexpr uint8_t kRecipientDevice = 0;
constexpr uint8_t kRecipientEndpoint = 2;
constexpr uint16_t kFeatureEndpointHalt = 0;
constexpr size_t kSetSelLength = 6;

uint8_t request_type(const SetupPacket &s) {
    return (s.bmRequestType >> 5) & 3;
}
bool is_in(const SetupPacket &s) {
    return (s.bmRequestType & kDirectionIn) != 0;
}

// Copies an answer into the data stage, cut to wLength.
ControlResult answer_with(const SetupPacket &s, uint8_t *data, const std::vector<uint8_t> &a) {
    const uint32_t n = std::min<uint32_t>(s.wLength, uint32_t(a.size()));
    if (n > 0) std::memcpy(data, a.data(), n);
    return {false, n};
}

constexpr ControlResult kStall = {true, 0};

// How many bytes packet k of a transfer carries: what fits both the host's packet and the
// device's, in whole samples.
uint32_t packet_bytes(uint32_t k, uint32_t length, uint32_t packet_size, uint32_t device_packet) {
    const uint64_t start = uint64_t(k) * packet_size;
    const uint64_t room = start < length ? std::min<uint64_t>(packet_size, length - start) : 0;
    return uint32_t(std::min<uint64_t>(room, device_packet)) & ~1u;
}

} // namespace

const Firmware::VendorRequest Firmware::kVendorRequests[] = {
    {vendor_request::kReset, false, &Firmware::reset},
    {vendor_request::kIdentity, true, &Firmware::read_identity},
    {vendor_request::kAdcWrite, false, &Firmware::write_adc},
    {vendor_request::kAdcRead, true, &Firmware::read_adc},
    {vendor_request::kPort, false, &Firmware::command_port},
    {vendor_request::kPort, true, &Firmware::port_status},
    {vendor_request::kPortRead, true, &Firmware::read_port},
    {vendor_request::kFeatureSet, false, &Firmware::set_feature},
    {vendor_request::kFeatureRead, true, &Firmware::read_feature},
};

Firmware::Firmware(const DetectorConfig &config)
    : identity_(make_identity_block(config)), descriptors_(config, identity_serial(identity_)),
      ports_(config.samplerate), samples_(config.samples) {}

ControlResult Firmware::control(const SetupPacket &setup, uint8_t *data) {
    switch (request_type(setup)) {
    case kTypeVendor:
        return vendor(setup, data);
    case kTypeStandard:
        return standard(setup, data);
    default:
        return kStall;
    }
}

ControlResult Firmware::vendor(const SetupPacket &setup, uint8_t *data) {
    const bool in = is_in(setup);
    LoggedRequest entry{in, setup.bRequest, setup.wValue, setup.wIndex, {}, false};
    if (!in && setup.wLength > 0) entry.data.assign(data, data + setup.wLength);

    ControlResult result = kStall;
    if (auto fault = request_faults_.take(setup.bRequest, in)) {
        if (fault->hang) {
            entry.data.clear();
            log_.add(std::move(entry));
            return {false, 0, true};
        }
        if (!fault->stall) result = answer_with(setup, data, fault->answer);
    } else {
        for (const VendorRequest &r : kVendorRequests) {
            if (r.code != setup.bRequest || r.in != in) continue;
            std::vector<uint8_t> answer;
            if ((this->*r.handler)(setup, data, answer))
                result =
                    in ? answer_with(setup, data, answer) : ControlResult{false, setup.wLength};
            break;
        }
    }
    entry.stalled = result.stalled;
    if (in) entry.data.assign(data, data + result.length);
    log_.add(std::move(entry));
    return result;
}

ControlResult Firmware::standard(const SetupPacket &setup, uint8_t *data) {
    using namespace standard_request;
    const bool in = is_in(setup);
    const uint8_t recipient = setup.bmRequestType & kRecipientMask;
    switch (setup.bRequest) {
    case kGetDescriptor: {
        if (!in) return kStall;
        const auto *d = descriptors_.find(uint8_t(setup.wValue >> 8), uint8_t(setup.wValue));
        return d ? answer_with(setup, data, *d) : kStall;
    }
    case kGetStatus:
        return in ? answer_with(setup, data, {0, 0}) : kStall;
    case kGetConfiguration:
        return in ? answer_with(setup, data, {1}) : kStall;
    case kSetConfiguration:
        return !in && setup.wValue <= 1 ? ControlResult{} : kStall;
    case kGetInterface:
        return in && setup.wIndex == 0 ? answer_with(setup, data, {alt_setting_}) : kStall;
    case kSetInterface:
        return !in && setup.wIndex == 0 && setup.wValue <= 0xFF &&
                       select_alt_setting(uint8_t(setup.wValue))
                   ? ControlResult{}
                   : kStall;
    case kClearFeature: {
        // A halt cleared on endpoint 0 or the stream endpoint (the host resets an endpoint so).
        const bool known_endpoint = (setup.wIndex & 0x7F) == 0 || setup.wIndex == kStreamEndpoint;
        return !in && recipient == kRecipientEndpoint && setup.wValue == kFeatureEndpointHalt &&
                       known_endpoint
                   ? ControlResult{}
                   : kStall;
    }
    case kSetSel:
        return !in && recipient == kRecipientDevice && superspeed() &&
                       setup.wLength == kSetSelLength
                   ? ControlResult{false, setup.wLength}
                   : kStall;
    case kSetIsochDelay:
        return !in && recipient == kRecipientDevice && superspeed() && setup.wLength == 0
                   ? ControlResult{}
                   : kStall;
    default:
        return kStall;
    }
}

bool Firmware::superspeed() const {
    const auto *d = descriptors_.find(descriptor_type::kDevice, 0);
    return d != nullptr && d->size() > 3 && (*d)[3] >= 3; // bcdUSB 3.x
}

bool Firmware::reset(const SetupPacket &, const uint8_t *, std::vector<uint8_t> &) {
    reset_state();
    return true;
}

void Firmware::reset_state() {
    features_ = kFeatureDefaults;
    adc_.reset();
    ports_.reset();
}

bool Firmware::read_identity(const SetupPacket &, const uint8_t *, std::vector<uint8_t> &a) {
    a.assign(identity_.begin(), identity_.end());
    return true;
}

bool Firmware::write_adc(const SetupPacket &s, const uint8_t *, std::vector<uint8_t> &) {
    if (s.wIndex > 0xFF) return false;
    adc_.write(uint8_t(s.wIndex), s.wValue);
    return true;
}

bool Firmware::read_adc(const SetupPacket &s, const uint8_t *, std::vector<uint8_t> &a) {
    if (s.wIndex > 0xFF) return false;
    a = {adc_.read(uint8_t(s.wIndex))};
    return true;
}

bool Firmware::command_port(const SetupPacket &s, const uint8_t *data, std::vector<uint8_t> &) {
    if (s.wLength != kPortRecordSize || s.wValue >= kPortCount) return false;
    PortRecordBytes record;
    std::memcpy(record.data(), data, kPortRecordSize);
    return ports_.command(uint8_t(s.wValue), record, samples_.produced());
}

bool Firmware::port_status(const SetupPacket &s, const uint8_t *, std::vector<uint8_t> &a) {
    if (s.wValue >= kPortCount) return false;
    const PortRecordBytes &record = ports_.record(uint8_t(s.wValue));
    a.assign(record.begin(), record.end());
    return true;
}

bool Firmware::read_port(const SetupPacket &s, const uint8_t *, std::vector<uint8_t> &a) {
    if (s.wValue >= kPortCount) return false;
    a = {ports_.level(uint8_t(s.wValue), samples_.produced(), samples_.peek())};
    return true;
}

bool Firmware::set_feature(const SetupPacket &s, const uint8_t *, std::vector<uint8_t> &) {
    if (s.wIndex >= kFeatureCount) return false;
    features_[s.wIndex] = s.wValue != 0;
    return true;
}

bool Firmware::read_feature(const SetupPacket &s, const uint8_t *, std::vector<uint8_t> &a) {
    a = {s.wIndex < kFeatureCount ? features_[s.wIndex] : kFeatureUnsupported};
    return true;
}

bool Firmware::select_alt_setting(uint8_t alt) {
    if (alt >= kAltSettingCount) return false;
    alt_setting_ = alt;
    if (alt == kStreamAltSetting) {
        collection_transfers_ = 0;
        marker_owed_ = false; // a new stream owes nothing for samples lost before it
        stream_faults_.start_collection();
    }
    return true;
}

void Firmware::produce(uint16_t *out, size_t n) {
    const uint64_t first = samples_.produced();
    samples_.take(out, n);
    adc_.pattern().apply(out, n, first);
    ports_.apply(out, n, first);
}

void Firmware::drop_samples(uint64_t n) {
    if (n == 0) return;
    samples_.skip(n);
    dropped_samples_ += n;
    marker_owed_ = true;
}

void Firmware::fill_packet(uint16_t *samples, size_t n, const TransferFaults &faults, int packet,
                           PacketResult &result, uint32_t bytes) {
    produce(samples, n);
    result = {false, bytes};
    for (const TransferFaults::PacketFault &f : faults.packets) {
        if (f.packet != kEveryPacket && f.packet != packet) continue;
        switch (f.kind) {
        case StreamFault::bad_status:
            result.error = true;
            break;
        case StreamFault::bad_length:
            result.length = bytes + 2;
            break;
        case StreamFault::data_loss:
            write_data_loss_marker(samples, n);
            break;
        default:
            break;
        }
    }
    // A marker owed for dropped samples goes into the first intact packet that can carry it.
    if (marker_owed_ && !result.error && result.length == bytes &&
        write_data_loss_marker(samples, n))
        marker_owed_ = false;
}

uint64_t Firmware::transfer_samples(uint32_t length, uint32_t packet_size,
                                    uint32_t npackets) const {
    const uint32_t device_packet = descriptors_.stream_packet_size();
    uint64_t words = 0;
    for (uint32_t k = 0; k < npackets; ++k)
        words += packet_bytes(k, length, packet_size, device_packet) / 2;
    return words;
}

StreamResult Firmware::stream_transfer(uint8_t endpoint, uint8_t *buffer, uint32_t length,
                                       uint32_t packet_size, PacketResult *packets,
                                       uint32_t npackets) {
    if (endpoint != kStreamEndpoint || alt_setting_ != kStreamAltSetting || packet_size == 0)
        return StreamResult::rejected;
    const TransferFaults faults = stream_faults_.for_transfer(collection_transfers_++);
    if (faults.timeout) return StreamResult::never_completes;

    const uint32_t device_packet = descriptors_.stream_packet_size();
    for (uint32_t k = 0; k < npackets; ++k) {
        const uint32_t bytes = packet_bytes(k, length, packet_size, device_packet);
        uint8_t *at = buffer + uint64_t(k) * packet_size;
        if (reinterpret_cast<uintptr_t>(at) % alignof(uint16_t) == 0) {
            fill_packet(reinterpret_cast<uint16_t *>(at), bytes / 2, faults, int(k), packets[k],
                        bytes);
        } else { // an odd packet size from an overridden descriptor
            std::vector<uint16_t> words(bytes / 2);
            fill_packet(words.data(), words.size(), faults, int(k), packets[k], bytes);
            std::memcpy(at, words.data(), bytes);
        }
    }
    return faults.error_status ? StreamResult::transfer_error : StreamResult::completed;
}

} // namespace zvsim
