// A driver that keeps one transfer even after the engine cancels it: the engine must give up on
// it within its waits, leave its buffer, record and event allocated (the driver may still write
// into them) and still return. The simulated detector is reached through a driver wrapper that
// holds back one direct transfer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "sim_detector.h"
#include "usb/driver.h"
#include "usb/ioctl_codes.h"
#include "usb/transfer_record.h"

namespace {

// The transfer held back: what the driver would still write when it finally completes.
struct Held {
    zvusb::Overlapped *ov = nullptr;
    zvusb::TransferRecord *record = nullptr;
    uint8_t *buffer = nullptr;
    uint32_t length = 0;
};

class HoldingHandle : public zvusb::DriverHandle {
  public:
    HoldingHandle(std::unique_ptr<zvusb::DriverHandle> inner, int hold, Held &held)
        : inner_(std::move(inner)), hold_(hold), held_(held) {}

    bool io_control(uint32_t code, void *in, uint32_t in_len, void *out, uint32_t out_len,
                    uint32_t *returned, zvusb::Overlapped *ov, uint32_t *error) override {
        if (code == zvusb::ioctl::kSendNonEp0Direct && ov != nullptr && direct_++ == hold_) {
            held_ = {ov, static_cast<zvusb::TransferRecord *>(in), static_cast<uint8_t *>(out),
                     out_len};
            ov->status = zvusb::kErrorIoPending;
            ov->event->reset();
            *error = zvusb::kErrorIoPending;
            return false;
        }
        return inner_->io_control(code, in, in_len, out, out_len, returned, ov, error);
    }

  private:
    std::unique_ptr<zvusb::DriverHandle> inner_;
    int hold_;
    int direct_ = 0;
    Held &held_;
};

class HoldingDriver : public zvusb::Driver {
  public:
    HoldingDriver(zvusb::Driver *inner, int hold) : inner_(inner), hold_(hold) {}
    const char *name() const override { return inner_->name(); }
    std::vector<std::string> device_paths() override { return inner_->device_paths(); }
    std::unique_ptr<zvusb::DriverHandle> open(const std::string &path, uint32_t *error) override {
        auto handle = inner_->open(path, error);
        if (!handle) return handle;
        return std::make_unique<HoldingHandle>(std::move(handle), hold_, held);
    }
    Held held;

  private:
    zvusb::Driver *inner_;
    int hold_;
};

class HeldTransfer : public SimDetectorTest {
  protected:
    void SetUp() override {
        simulator_ = zvusb::driver_for_class(zvusb::kInterfaceClassSecondary);
        ASSERT_NE(simulator_, nullptr);
        // The seventh transfer submitted: slot 6, waited for after two delivered transfers.
        holding_ = std::make_unique<HoldingDriver>(simulator_, 6);
        zvusb::register_driver(zvusb::kInterfaceClassSecondary, holding_.get());
        attach();
    }
    void TearDown() override {
        SimDetectorTest::TearDown();
        zvusb::register_driver(zvusb::kInterfaceClassSecondary, simulator_);
    }

    zvusb::Driver *simulator_ = nullptr;
    std::unique_ptr<HoldingDriver> holding_;
};

struct Count {
    int calls = 0;
    static int sink(const uint16_t *, int, int, void *user) {
        ++static_cast<Count *>(user)->calls;
        return 1;
    }
};

TEST_F(HeldTransfer, EngineGivesUpAndLeavesItsMemoryToTheDriver) {
    Count count;
    testing::internal::CaptureStdout();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(zv_collect(dev, Count::sink, &count), 32);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const std::string out = testing::internal::GetCapturedStdout();
    // 1.5 s for the wait, 2 s for the pending transfer's last chance, then no further wait.
    EXPECT_LT(elapsed, 8.0);
    EXPECT_EQ(out.rfind("wait for transfer failed\nusb error", 0), 0u) << out;
    EXPECT_STREQ(zv_get_error_string(), "error finishing transfer");
    EXPECT_EQ(count.calls, 32); // transfers 4 and 5

    // The driver completes the transfer late: everything it writes must still be allocated.
    Held &held = holding_->held;
    ASSERT_NE(held.ov, nullptr);
    std::memset(held.buffer, 0x5A, held.length);
    held.record->driver_status = 0;
    held.ov->status = zvusb::kErrorSuccess;
    held.ov->event->set();

    // The device collects again.
    std::vector<uint16_t> buffer(1000);
    EXPECT_EQ(zv_get_raw_data(dev, buffer.data(), buffer.size()), 0);
}

} // namespace
