// The firmware model of a simulated HLM25: what the detector does, independent of how it is
// reached. It answers control requests on endpoint 0 (the standard requests a host sends, such as
// descriptors, halts cleared and SuperSpeed link settings, and the vendor requests), switches
// alternate settings and fills isochronous transfers of the stream endpoint. It knows nothing of
// the host transport, so the same model can be served in process or to a virtual machine. Not
// thread-safe: its owner serialises the calls.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/firmware/adc_registers.h"
#include "sim/firmware/descriptors.h"
#include "sim/firmware/detector_config.h"
#include "sim/firmware/features.h"
#include "sim/firmware/identity_block.h"
#include "sim/firmware/port_bank.h"
#include "sim/firmware/request_faults.h"
#include "sim/firmware/request_log.h"
#include "sim/firmware/sample_loop.h"
#include "sim/firmware/stream_faults.h"

namespace zvsim {

struct SetupPacket {
    uint8_t bmRequestType;
    uint8_t bRequest;
    uint16_t wValue;
    uint16_t wIndex;
    uint16_t wLength;
};

struct ControlResult {
    bool stalled = false;
    uint32_t length = 0;     // data-stage bytes moved
    bool unanswered = false; // an injected fault: the request stays outstanding
};

struct PacketResult {
    bool error = false;  // the packet arrived damaged
    uint32_t length = 0; // bytes reported for the packet
};

enum class StreamResult {
    completed,       // packets filled and reported
    transfer_error,  // packets filled, but the transfer as a whole reports an error
    never_completes, // nothing filled; the transfer stays outstanding until cancelled
    rejected,        // not the stream endpoint, or not on the streaming alternate setting
};

class Firmware {
  public:
    // `config` must have passed validate().
    explicit Firmware(const DetectorConfig &config);

    // One control transfer: `data` holds wLength bytes, sent (OUT) or to be answered (IN).
    ControlResult control(const SetupPacket &setup, uint8_t *data);

    // Interface 0 has alternate settings 0 and 1; selecting 1 starts a collection.
    bool select_alt_setting(uint8_t alt);
    uint8_t alt_setting() const { return alt_setting_; }

    // One isochronous IN transfer of `length` bytes: packet k may fill up to `packet_size` bytes
    // at buffer + k * packet_size (the device sends at most its own packet size).
    StreamResult stream_transfer(uint8_t endpoint, uint8_t *buffer, uint32_t length,
                                 uint32_t packet_size, PacketResult *packets, uint32_t npackets);
    // Transfers served since the current collection started.
    uint32_t collection_transfers() const { return collection_transfers_; }
    // The samples stream_transfer takes for a transfer of this shape.
    uint64_t transfer_samples(uint32_t length, uint32_t packet_size, uint32_t npackets) const;

    // The detector's FIFO overflowed (real-time mode): n samples never reach the host. The sample
    // loop moves past them, and the next packet able to carry it (more than 5120 samples) carries
    // the data-loss marker in place of its samples' tail.
    void drop_samples(uint64_t n);
    // Samples dropped since the detector was made.
    uint64_t dropped_samples() const { return dropped_samples_; }
    // A data-loss marker is waiting for a packet that can carry it.
    bool marker_owed() const { return marker_owed_; }

    // Produces the next n samples: looped words, test pattern, port bits.
    void produce(uint16_t *out, size_t n);

    // Back to the power-up state of features, ADC registers and ports (the reset request).
    void reset_state();

    const IdentityBlock &identity() const { return identity_; }
    DescriptorSet &descriptors() { return descriptors_; }
    const DescriptorSet &descriptors() const { return descriptors_; }
    const FeatureStates &features() const { return features_; }
    const AdcRegisters &adc() const { return adc_; }
    PortBank &ports() { return ports_; }
    const PortBank &ports() const { return ports_; }
    SampleLoop &samples() { return samples_; }
    const SampleLoop &samples() const { return samples_; }
    RequestFaults &request_faults() { return request_faults_; }
    StreamFaultPlan &stream_faults() { return stream_faults_; }
    RequestLog &log() { return log_; }
    const RequestLog &log() const { return log_; }

  private:
    // A vendor request handler: validates the request, acts, and for IN requests fills `answer`
    // (truncated to wLength by the caller). False stalls the request.
    using Handler = bool (Firmware::*)(const SetupPacket &, const uint8_t *data,
                                       std::vector<uint8_t> &answer);
    struct VendorRequest {
        uint8_t code;
        bool in;
        Handler handler;
    };
    static const VendorRequest kVendorRequests[];

    ControlResult vendor(const SetupPacket &setup, uint8_t *data);
    ControlResult standard(const SetupPacket &setup, uint8_t *data);
    // The descriptors announce a SuperSpeed device (bcdUSB 3.x).
    bool superspeed() const;

    bool reset(const SetupPacket &, const uint8_t *, std::vector<uint8_t> &);
    bool read_identity(const SetupPacket &, const uint8_t *, std::vector<uint8_t> &);
    bool write_adc(const SetupPacket &, const uint8_t *, std::vector<uint8_t> &);
    bool read_adc(const SetupPacket &, const uint8_t *, std::vector<uint8_t> &);
    bool command_port(const SetupPacket &, const uint8_t *, std::vector<uint8_t> &);
    bool port_status(const SetupPacket &, const uint8_t *, std::vector<uint8_t> &);
    bool read_port(const SetupPacket &, const uint8_t *, std::vector<uint8_t> &);
    bool set_feature(const SetupPacket &, const uint8_t *, std::vector<uint8_t> &);
    bool read_feature(const SetupPacket &, const uint8_t *, std::vector<uint8_t> &);

    void fill_packet(uint16_t *samples, size_t n, const TransferFaults &faults, int packet,
                     PacketResult &result, uint32_t bytes);

    IdentityBlock identity_;
    DescriptorSet descriptors_;
    FeatureStates features_ = kFeatureDefaults;
    AdcRegisters adc_;
    PortBank ports_;
    SampleLoop samples_;
    RequestFaults request_faults_;
    StreamFaultPlan stream_faults_;
    RequestLog log_;
    uint8_t alt_setting_ = 0;
    uint32_t collection_transfers_ = 0;
    uint64_t dropped_samples_ = 0;
    bool marker_owed_ = false;
};

} // namespace zvsim
