// The end of a transfer as the driver hands it back: the record (header, packet table, data)
// rewritten in any way, the overlapped result with any byte count and status, completion at
// once, failure or pending until aborted. finish_transfer collects it into the caller's buffer
// and a sixteen-entry packet table, which are then walked as the acquisition engine walks them.
//
// Input: endpoint packet size and transfer mode, then the driver's script (FuzzedDataProvider).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "libzv/data_loss_marker.h"
#include "usb/cy_endpoint.h"
#include "usb/ioctl_codes.h"
#include "usb/system_errors.h"

using namespace zvusb;

namespace {

constexpr int kPackets = 16;

void check(bool condition) {
    if (!condition) std::abort();
}

// A driver that answers transfer requests as the input says.
class ScriptedDriver : public DriverHandle {
  public:
    explicit ScriptedDriver(FuzzedDataProvider &script) : script_(script) {}

    bool io_control(uint32_t code, void *in, uint32_t in_len, void *out, uint32_t out_len,
                    uint32_t *returned, Overlapped *ov, uint32_t *error) override {
        *returned = 0;
        *error = kErrorSuccess;
        if (code == ioctl::kAbortPipe) {
            // Cancelling completes the transfer left pending.
            if (pending_ != nullptr) {
                pending_->status = kErrorOperationAborted;
                pending_->event->set();
                pending_ = nullptr;
            }
            if (ov != nullptr) ov->event->set();
            return true;
        }
        if (code != ioctl::kSendEp0Control && code != ioctl::kSendNonEp0Direct &&
            code != ioctl::kSendNonEp0Transfer) {
            *error = kErrorNotSupported;
            return false;
        }
        rewrite(static_cast<uint8_t *>(in), in_len);
        if (out != in) fill(static_cast<uint8_t *>(out), out_len);
        // Any final status but the two that mean "still in flight": a record the driver never
        // gives back is kept alive by design, which is no leak to report here.
        uint32_t status = script_.ConsumeIntegral<uint32_t>();
        if (status == kErrorIoPending || status == kErrorIoIncomplete) status = kErrorGenFailure;
        const uint32_t bytes = script_.ConsumeIntegral<uint32_t>();
        switch (script_.ConsumeIntegralInRange(0, 2)) {
        case 0: // complete in the call
            ov->status = status;
            ov->bytes = bytes;
            ov->event->set();
            *returned = bytes;
            if (ov->status == kErrorSuccess) return true;
            *error = ov->status;
            return false;
        case 1: // refused: nothing in flight, no signal
            *error = status;
            return false;
        default: // pending until aborted
            ov->status = kErrorIoPending;
            ov->bytes = bytes;
            pending_ = ov;
            *error = kErrorIoPending;
            return false;
        }
    }

  private:
    // The driver's writes into the record: any bytes anywhere in it.
    void rewrite(uint8_t *record, uint32_t size) {
        const int edits = script_.ConsumeIntegralInRange(0, 6);
        for (int i = 0; i < edits && size > 0; ++i) {
            const uint32_t at = script_.ConsumeIntegralInRange<uint32_t>(0, size - 1);
            const std::vector<uint8_t> bytes =
                script_.ConsumeBytes<uint8_t>(script_.ConsumeIntegralInRange<uint32_t>(1, 64));
            if (!bytes.empty())
                std::memcpy(record + at, bytes.data(), std::min<size_t>(bytes.size(), size - at));
        }
    }

    void fill(uint8_t *data, uint32_t size) {
        if (data == nullptr || size == 0) return;
        const std::vector<uint8_t> bytes = script_.ConsumeBytes<uint8_t>(size);
        if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    }

    FuzzedDataProvider &script_;
    Overlapped *pending_ = nullptr;
};

// The engine's walk over a finished transfer's packet table.
void walk(const uint8_t *buffer, const IsoPacketInfo *packets, uint32_t packet_size) {
    for (int k = 0; k < kPackets; ++k) {
        if (packets[k].status != 0 || packets[k].length == 0 || packets[k].length > packet_size)
            continue;
        const int n = int(packets[k].length / 2);
        zv::is_data_loss_marker(
            reinterpret_cast<const uint16_t *>(buffer + size_t(k) * packet_size), n);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider script(data, size);
    ScriptedDriver driver(script);
    const bool control = script.ConsumeBool();
    const bool buffered = script.ConsumeBool();

    std::unique_ptr<CCyUSBEndPoint> ep;
    if (control) {
        auto c = std::make_unique<CCyControlEndPoint>(&driver, 512);
        c->direction = script.ConsumeBool() ? 1 : 0;
        ep = std::move(c);
    } else {
        EndpointDescriptor d;
        d.bEndpointAddress = 0x83;
        d.bmAttributes = 1;
        d.wMaxPacketSize = 0x400;
        ep = std::make_unique<CCyIsocEndPoint>(&driver, d);
        // Any size a descriptor with companion can announce (it saturates at 16 bits), so that
        // packets can be long enough to carry the data-loss marker.
        ep->max_packet_size = script.ConsumeBool()
                                  ? script.ConsumeIntegralInRange<uint16_t>(1, 0x7FF)
                                  : script.ConsumeIntegralInRange<uint16_t>(1, 0xFFFF);
        ep->transfer_mode = buffered ? kXferBuffered : kXferDirect;
    }
    const uint32_t packet = ep->max_packet_size;
    const int32_t requested =
        control ? script.ConsumeIntegralInRange<int32_t>(0, 4096) : int32_t(kPackets * packet);

    std::unique_ptr<uint8_t[]> buffer(new uint8_t[size_t(requested) + 1]);
    std::memset(buffer.get(), 0, size_t(requested) + 1);
    std::unique_ptr<IsoPacketInfo[]> packets(new IsoPacketInfo[kPackets]());
    Event event;
    Overlapped ov;
    ov.event = &event;
    uint8_t *context = ep->begin_transfer(buffer.get(), requested, &ov);
    if (context == nullptr) return 0;
    int32_t length = requested;
    ep->finish_transfer(buffer.get(), length, &ov, context, control ? nullptr : packets.get());
    check(length >= 0 && length <= requested);
    if (!control) walk(buffer.get(), packets.get(), packet);
    return 0;
}
