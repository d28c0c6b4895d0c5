// A DriverHandle that records every request (code, lengths, a copy of the record header) and
// passes it on to the real handle.
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "usb/driver.h"
#include "usb/transfer_record.h"

namespace zvtest {

struct SpiedRequest {
    uint32_t code;
    uint32_t in_len;
    uint32_t out_len;
    bool same_buffer;
    zvusb::TransferRecord header; // zero unless the input held a whole header
};

class SpyHandle : public zvusb::DriverHandle {
  public:
    explicit SpyHandle(std::unique_ptr<zvusb::DriverHandle> inner) : inner_(std::move(inner)) {}
    bool io_control(uint32_t code, void *in, uint32_t in_len, void *out, uint32_t out_len,
                    uint32_t *returned, zvusb::Overlapped *ov, uint32_t *error) override {
        SpiedRequest r{code, in_len, out_len, in == out, {}};
        if (in != nullptr && in_len >= sizeof r.header) std::memcpy(&r.header, in, sizeof r.header);
        requests.push_back(r);
        return inner_->io_control(code, in, in_len, out, out_len, returned, ov, error);
    }
    zvusb::DriverHandle *inner() const { return inner_.get(); }
    std::vector<SpiedRequest> requests;

  private:
    std::unique_ptr<zvusb::DriverHandle> inner_;
};

} // namespace zvtest
