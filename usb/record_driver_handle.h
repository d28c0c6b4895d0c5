// A DriverHandle for backends that implement BackendDevice: it decodes every driver request
// (ioctl_codes.h) and its transfer record, calls the backend, and writes statuses, packet tables,
// byte counts and data back into the record before completing the overlapped record.
//
// Requests never run past the buffers they were given: a record whose offsets or lengths do not
// fit its buffer is refused with kErrorInvalidParameter before the backend sees it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "usb/backend_device.h"
#include "usb/driver.h"

namespace zvusb {

// Version numbers this handle reports for the driver and USB stack queries.
constexpr uint32_t kRecordDriverVersion = 0x00010000;
constexpr uint32_t kRecordStackVersion = 0x00000300;

class RecordDriverHandle : public DriverHandle {
  public:
    explicit RecordDriverHandle(std::unique_ptr<BackendDevice> device);
    // Cancels and completes every request still in flight, then destroys the backend.
    ~RecordDriverHandle() override;
    RecordDriverHandle(const RecordDriverHandle &) = delete;
    RecordDriverHandle &operator=(const RecordDriverHandle &) = delete;

    bool io_control(uint32_t code, void *in, uint32_t in_len, void *out, uint32_t out_len,
                    uint32_t *returned, Overlapped *ov, uint32_t *error) override;

    BackendDevice *backend() const { return backend_.get(); }
    // Requests accepted and not yet complete.
    size_t in_flight() const;

  private:
    struct Request;
    using RequestPtr = std::shared_ptr<Request>;

    // Driver queries and settings that complete inside the call.
    bool query(uint32_t code, const uint8_t *in, uint32_t in_len, uint8_t *out, uint32_t out_len,
               uint32_t *returned, uint32_t *error);
    bool control(uint8_t *in, uint32_t in_len, uint8_t *out, uint32_t out_len, Overlapped *ov,
                 uint32_t *returned, uint32_t *error);
    // A buffered (record in/out) or direct (record in, data out) transfer on a data endpoint.
    bool data_transfer(bool direct, uint8_t *in, uint32_t in_len, uint8_t *out, uint32_t out_len,
                       Overlapped *ov, uint32_t *returned, uint32_t *error);
    // Cancels the endpoint's requests and lets the backend complete them (bounded).
    void abort_endpoint(uint8_t endpoint);

    // Registers a request, lets `start` hand it to the backend and settles the call's result:
    // completed at once, pending (overlapped) or waited for (no overlapped record).
    template <typename Start>
    bool run(const RequestPtr &request, Start start, uint32_t *returned, uint32_t *error);
    void complete(const RequestPtr &request, uint32_t usb_status, uint32_t error, uint32_t bytes);
    // Removes a complete request, publishes its result in its overlapped record and takes the
    // pump off the record's event; returns the record (null when the request was forgotten).
    Overlapped *settle(const RequestPtr &request);
    bool endpoint_busy(uint8_t endpoint) const;
    uint32_t packet_size(uint8_t endpoint, uint32_t length, uint32_t npackets);

    std::unique_ptr<BackendDevice> backend_;
    mutable std::mutex mutex_;
    std::vector<RequestPtr> in_flight_;
};

} // namespace zvusb
