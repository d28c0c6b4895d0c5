// A real detector reached through libusb's asynchronous API. The backend has no thread: its
// transfers complete inside pump(), which the waiters of the transfers' events call. Several
// threads may use it at once (a continuous stream's transfers on one, control requests on
// another): libusb lets one of them handle events at a time and the others wait, and the
// records of what is in flight are guarded here.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <libusb.h>

#include "usb/backend_device.h"

namespace zvusb {

class LibusbBackendDevice : public BackendDevice {
  public:
    // Takes over `handle` with interface 0 claimed; `closed` runs once the handle is closed.
    LibusbBackendDevice(libusb_context *context, libusb_device_handle *handle, std::string name,
                        std::function<void()> closed = {});
    // Cancels every transfer in flight, lets libusb give them back, releases the interface and
    // closes the handle.
    ~LibusbBackendDevice() override;
    LibusbBackendDevice(const LibusbBackendDevice &) = delete;
    LibusbBackendDevice &operator=(const LibusbBackendDevice &) = delete;

    void pump(uint32_t timeout_ms) override;
    void control(const ControlSetup &setup, uint8_t *data, uint32_t timeout_ms,
                 Completion done) override;
    void transfer(uint8_t endpoint, uint8_t *buffer, uint32_t length, IsoPacketInfo *packets,
                  uint32_t npackets, uint32_t max_packet_size, Completion done) override;
    void abort(uint8_t endpoint) override;
    uint32_t reset_endpoint(uint8_t endpoint) override;
    uint32_t alt_setting(uint8_t *alt) override;
    uint32_t set_alt_setting(uint8_t alt) override;
    uint32_t speed() override;
    uint8_t address() override;
    std::string name() override;
    uint32_t max_packet_size(uint8_t endpoint) override;

  private:
    struct Pending;
    struct EndpointInfo {
        uint8_t address;
        uint8_t type; // LIBUSB_TRANSFER_TYPE_*
        uint32_t max_packet_size;
    };

    // A transfer record for `endpoint` with `packets` isochronous packets, owning `done`; null
    // (with `done` called) when memory is short.
    Pending *new_pending(uint8_t endpoint, int packets, Completion &done);
    void submit(Pending *pending);
    static void LIBUSB_CALL on_complete(libusb_transfer *transfer);
    void finish(Pending *pending);
    // Reads the endpoints of the selected alternate setting from the active configuration
    // (mutex_ held).
    void load_endpoints();
    // The endpoint's type and packet size, if the selected alternate setting has it.
    bool endpoint_info(uint8_t address, EndpointInfo &info) const;
    size_t in_flight() const;

    libusb_context *context_;
    libusb_device_handle *handle_;
    std::string name_;
    std::function<void()> closed_;
    // Guards alt_, endpoints_ and pending_.
    mutable std::mutex mutex_;
    uint8_t alt_ = 0;
    std::vector<EndpointInfo> endpoints_;
    std::vector<Pending *> pending_;
};

} // namespace zvusb
