// Driver behaviour the simulated detector does not show, scripted by wrapping its driver: a
// submission refused at once, and a transfer the driver keeps even after the engine cancels it.
// For a kept transfer the engine must give up within its waits, leave its buffer, record and
// event allocated (the driver may still write into them) and still return.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "sim_detector.h"
#include "usb/driver.h"
#include "usb/ioctl_codes.h"
#include "usb/transfer_record.h"

namespace {

enum class Action { hold, refuse };

// A transfer held back: what the driver would still write when it finally completes.
struct Held {
    zvusb::Overlapped *ov = nullptr;
    zvusb::TransferRecord *record = nullptr;
    uint8_t *buffer = nullptr;
    uint32_t length = 0;
};

// Direct transfers numbered in submission order, and what the driver does with them.
using Script = std::map<int, Action>;

class ScriptedHandle : public zvusb::DriverHandle {
  public:
    ScriptedHandle(std::unique_ptr<zvusb::DriverHandle> inner, const Script &script, Held &held)
        : inner_(std::move(inner)), script_(script), held_(held) {}

    bool io_control(uint32_t code, void *in, uint32_t in_len, void *out, uint32_t out_len,
                    uint32_t *returned, zvusb::Overlapped *ov, uint32_t *error) override {
        if (code == zvusb::ioctl::kSendNonEp0Direct && ov != nullptr) {
            auto action = script_.find(direct_++);
            auto *record = static_cast<zvusb::TransferRecord *>(in);
            if (action != script_.end() && action->second == Action::refuse) {
                record->driver_status = zvusb::kErrorDeviceNotConnected;
                *error = zvusb::kErrorDeviceNotConnected;
                return false;
            }
            if (action != script_.end() && action->second == Action::hold) {
                held_ = {ov, record, static_cast<uint8_t *>(out), out_len};
                ov->status = zvusb::kErrorIoPending;
                ov->event->reset();
                *error = zvusb::kErrorIoPending;
                return false;
            }
        }
        return inner_->io_control(code, in, in_len, out, out_len, returned, ov, error);
    }

  private:
    std::unique_ptr<zvusb::DriverHandle> inner_;
    const Script &script_;
    int direct_ = 0;
    Held &held_;
};

class ScriptedDriver : public zvusb::Driver {
  public:
    explicit ScriptedDriver(zvusb::Driver *inner) : inner_(inner) {}
    const char *name() const override { return inner_->name(); }
    std::vector<std::string> device_paths() override { return inner_->device_paths(); }
    std::unique_ptr<zvusb::DriverHandle> open(const std::string &path, uint32_t *error) override {
        auto handle = inner_->open(path, error);
        if (!handle) return handle;
        return std::make_unique<ScriptedHandle>(std::move(handle), script, held);
    }
    Script script;
    Held held;

  private:
    zvusb::Driver *inner_;
};

class DriverFaults : public SimDetectorTest {
  protected:
    void SetUp() override {
        simulator_ = zvusb::driver_for_class(zvusb::kInterfaceClassSecondary);
        ASSERT_NE(simulator_, nullptr);
        scripted_ = std::make_unique<ScriptedDriver>(simulator_);
        zvusb::register_driver(zvusb::kInterfaceClassSecondary, scripted_.get());
        attach();
    }
    void TearDown() override {
        SimDetectorTest::TearDown();
        zvusb::register_driver(zvusb::kInterfaceClassSecondary, simulator_);
    }

    // The driver completes the held transfer late: everything it writes must still be
    // allocated.
    void complete_held_transfer() {
        Held &held = scripted_->held;
        ASSERT_NE(held.ov, nullptr);
        std::memset(held.buffer, 0x5A, held.length);
        held.record->driver_status = 0;
        held.ov->status = zvusb::kErrorSuccess;
        held.ov->event->set();
    }

    int collect_capturing(zv_sample_sink sink, void *user, std::string &out, double &seconds) {
        testing::internal::CaptureStdout();
        const auto t0 = std::chrono::steady_clock::now();
        const int status = zv_collect(dev, sink, user);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        out = testing::internal::GetCapturedStdout();
        return status;
    }

    zvusb::Driver *simulator_ = nullptr;
    std::unique_ptr<ScriptedDriver> scripted_;
};

struct Count {
    int calls = 0;
    int stop_after = 0; // 0: never
    static int sink(const uint16_t *, int, int, void *user) {
        auto &c = *static_cast<Count *>(user);
        return ++c.calls != c.stop_after;
    }
};

TEST_F(DriverFaults, SubmissionRefusedAtStart) {
    scripted_->script = {{3, Action::refuse}};
    Count count;
    std::string out;
    double seconds = 0;
    EXPECT_EQ(collect_capturing(Count::sink, &count, out, seconds), 32);
    EXPECT_EQ(out, "started transfer 3 failed: 1167\n");
    EXPECT_STREQ(zv_get_error_string(), "starting transfer failed");
    EXPECT_EQ(count.calls, 0);
    // The three transfers in flight were waited for, not left to time out.
    EXPECT_LT(seconds, 1.5);
}

TEST_F(DriverFaults, TransferKeptInTheLoopIsGivenUp) {
    // The seventh transfer submitted: slot 6, waited for after two delivered transfers.
    scripted_->script = {{6, Action::hold}};
    Count count;
    std::string out;
    double seconds = 0;
    EXPECT_EQ(collect_capturing(Count::sink, &count, out, seconds), 32);
    // 1.5 s for the wait, 2 s for the pending transfer's last chance, then no further wait.
    EXPECT_LT(seconds, 8.0);
    EXPECT_EQ(out.rfind("wait for transfer failed\nusb error", 0), 0u) << out;
    EXPECT_STREQ(zv_get_error_string(), "error finishing transfer");
    EXPECT_EQ(count.calls, 32); // transfers 4 and 5
    complete_held_transfer();

    // The device collects again.
    std::vector<uint16_t> buffer(1000);
    EXPECT_EQ(zv_get_raw_data(dev, buffer.data(), buffer.size()), 0);
}

TEST_F(DriverFaults, TransferKeptWhileDrainingIsGivenUp) {
    // The sink stops at its first packet (slot 4); slot 10 is still to be drained.
    scripted_->script = {{10, Action::hold}};
    Count count;
    count.stop_after = 1;
    std::string out;
    double seconds = 0;
    EXPECT_EQ(collect_capturing(Count::sink, &count, out, seconds), 32);
    EXPECT_LT(seconds, 8.0);
    EXPECT_EQ(out.rfind("final wait for transfer failed\n", 0), 0u) << out;
    EXPECT_STREQ(zv_get_error_string(), "final wait for transfer failed");
    EXPECT_EQ(count.calls, 1);
    complete_held_transfer();
}

} // namespace
