// A DriverHandle that records every request (code, lengths, a copy of the record header) and
// passes it on to the real handle.
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "usb/driver.h"
#include "usb/transfer_record.h"

namespace zvtest {

// The header's fields, unpacked so that test assertions may take references to them.
struct RecordFields {
    uint8_t bmRequestType, bRequest;
    uint16_t wValue, wIndex, wLength;
    uint32_t timeout_s;
    uint8_t endpoint_address;
    uint32_t driver_status, usb_status;
    uint32_t packet_table_offset, packet_table_length, data_offset, data_length;
};

inline RecordFields fields_of(const void *record) {
    zvusb::TransferRecord h;
    std::memcpy(&h, record, sizeof h);
    return RecordFields{h.bmRequestType,
                        h.bRequest,
                        h.wValue,
                        h.wIndex,
                        h.wLength,
                        h.timeout_s,
                        h.endpoint_address,
                        h.driver_status,
                        h.usb_status,
                        h.packet_table_offset,
                        h.packet_table_length,
                        h.data_offset,
                        h.data_length};
}

struct SpiedRequest {
    uint32_t code;
    uint32_t in_len;
    uint32_t out_len;
    bool same_buffer;
    RecordFields header; // zero unless the input held a whole header
};

class SpyHandle : public zvusb::DriverHandle {
  public:
    explicit SpyHandle(std::unique_ptr<zvusb::DriverHandle> inner) : inner_(std::move(inner)) {}
    bool io_control(uint32_t code, void *in, uint32_t in_len, void *out, uint32_t out_len,
                    uint32_t *returned, zvusb::Overlapped *ov, uint32_t *error) override {
        SpiedRequest r{code, in_len, out_len, in == out, {}};
        if (in != nullptr && in_len >= zvusb::kRecordHeaderSize) r.header = fields_of(in);
        requests.push_back(r);
        return inner_->io_control(code, in, in_len, out, out_len, returned, ov, error);
    }
    zvusb::DriverHandle *inner() const { return inner_.get(); }
    std::vector<SpiedRequest> requests;

  private:
    std::unique_ptr<zvusb::DriverHandle> inner_;
};

} // namespace zvtest
