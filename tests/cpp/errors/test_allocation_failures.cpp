// Allocation failures at the C interface: each entry point is called with its first, second, ...
// allocation on the calling thread failing, until a call makes no more allocations. Every call
// must come back (no exception may cross the C interface, which would end the program) with the
// library's error convention, and the detector must work normally afterwards. The library's own
// threads (the simulated detector, a continuous stream's acquisition) allocate normally.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "libzv.h"
#include "sim/simulator.h"
#include "stream/zv_stream.h"

namespace {

// The allocation to fail on this thread (1 = the next one), or 0 for none.
thread_local long t_fail_at = 0;
thread_local long t_allocations = 0;
thread_local bool t_failed = false;

void *allocate(std::size_t size) {
    if (t_fail_at > 0 && ++t_allocations == t_fail_at) {
        t_failed = true;
        throw std::bad_alloc();
    }
    if (void *p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

void *allocate_or_null(std::size_t size) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

} // namespace

void *operator new(std::size_t size) {
    return allocate(size);
}
void *operator new[](std::size_t size) {
    return allocate(size);
}
// The transport's records come from the non-throwing forms: they fail the same way.
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return allocate_or_null(size);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    return allocate_or_null(size);
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete[](void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept {
    std::free(p);
}

namespace {

struct EntryPoint {
    const char *name;
    // Calls the function; true when it reported success.
    std::function<bool(zv_device *)> call;
};

int sink_some(const uint16_t *, int count, int, void *user) {
    int &seen = *static_cast<int *>(user);
    seen += count;
    return seen < 2000;
}

// Sample buffers of the collections: the calls under test allocate, not the test.
constexpr uint64_t kSamples = 3000;
uint16_t g_samples[kSamples];
float g_floats[kSamples];
// The recording the recorder's entry points write and read.
std::string g_path;

std::vector<EntryPoint> entry_points() {
    return {
        {"zv_open",
         [](zv_device *) {
             zv_device *d = zv_open();
             zv_close(d);
             return d != nullptr;
         }},
        {"zv_open_serial",
         [](zv_device *) {
             zv_device *d = zv_open_serial("S00002");
             zv_close(d);
             return d != nullptr;
         }},
        {"zv_list_devices",
         [](zv_device *) {
             zv_device_info infos[4];
             int speeds[4];
             return zv_list_devices_with_speed(infos, speeds, 4) >= 1;
         }},
        {"zv_in_request",
         [](zv_device *d) {
             uint8_t block[72];
             return zv_in_request(d, 0x30, 0, 0, block, sizeof block, 1000) == 0;
         }},
        {"zv_out_request",
         [](zv_device *d) { return zv_out_request(d, 0xCC, 1, 0, nullptr, 0, 1000) == 0; }},
        {"zv_set_highgain", [](zv_device *d) { return zv_set_highgain(d, true) == 0; }},
        {"zv_read_feature",
         [](zv_device *d) { return zv_read_feature(d, ZV_FEATURE_ADCCLOCK) >= 0; }},
        {"zv_write_adc_register",
         [](zv_device *d) { return zv_write_adc_register(d, 13, 0) == 0; }},
        {"zv_test_user", [](zv_device *d) { return zv_test_user(d, 0x155) == 0; }},
        {"zv_port_pwm", [](zv_device *d) { return zv_port_pwm(d, ZV_PORT_A, 3, 9) == 0; }},
        {"zv_port_pulse", [](zv_device *d) { return zv_port_pulse(d, ZV_PORT_B, 3) == 0; }},
        {"zv_port_read", [](zv_device *d) { return zv_port_read(d, ZV_PORT_A) == 0; }},
        {"zv_get_rel_calibration",
         [](zv_device *d) {
             zv_calibration c = zv_get_rel_calibration(d, ZV_CALIBRATION_DIGITAL_AUTO, 1310.0);
             return c.gain != 0.0;
         }},
        {"zv_collect",
         [](zv_device *d) {
             int seen = 0;
             return zv_collect(d, sink_some, &seen) == 0;
         }},
        {"zv_get_raw_data",
         [](zv_device *d) { return zv_get_raw_data(d, g_samples, kSamples) == 0; }},
        {"zv_raw_stream",
         [](zv_device *d) {
             zv_raw_stream *s = zv_raw_stream_open(d, true);
             if (s == nullptr) return false;
             zv_block block;
             bool ok = zv_raw_stream_start(s, 0.01) == 0 &&
                       zv_raw_stream_read(s, g_samples, nullptr, kSamples, 2000, &block) == 0 &&
                       zv_raw_stream_stop(s) == 0;
             zv_raw_stream_close(s);
             return ok;
         }},
        {"zv_get_raw_data_triggered_timeout",
         [](zv_device *d) {
             return zv_get_raw_data_triggered_timeout(d, g_samples, kSamples, ZV_TRIGGER_S_LOW,
                                                      1000) == 0;
         }},
        {"zv_stream_float",
         [](zv_device *d) {
             zv_stream_float *s = zv_open_stream_float(d);
             if (s == nullptr) return false;
             zv_block block;
             bool ok = zv_stream_float_start(s, 0.01) == 0 &&
                       zv_stream_float_read(s, g_floats, nullptr, kSamples, 2000, &block) == 0 &&
                       zv_stream_float_stop(s) == 0;
             zv_stream_float_close(s);
             return ok;
         }},
        {"zv_recording",
         [](zv_device *d) {
             zv_recording_info info;
             if (zv_recording_describe(d, 0.0, &info) != 0) return false;
             zv_recording_writer *w =
                 zv_recording_writer_open(g_path.c_str(), &info, ZV_RECORDING_RAW, true);
             if (w == nullptr) return false;
             zv_block block{};
             block.count = kSamples;
             bool ok = zv_recording_writer_append_raw(w, g_samples, &block) == 0;
             ok = zv_recording_writer_close(w) == 0 && ok;
             zv_recording *r = zv_recording_open(g_path.c_str());
             if (r == nullptr) return false;
             ok = ok && zv_recording_read_power(r, 0, kSamples, -6, g_floats) == 0;
             zv_recording_close(r);
             return ok;
         }},
        {"zv_recorder",
         [](zv_device *d) {
             zv_raw_stream *s = zv_raw_stream_open(d, true);
             if (s == nullptr) return false;
             zv_recorder_options options{kSamples, 0.0, 0.01, true};
             zv_recorder *r = zv_recorder_start_raw(s, g_path.c_str(), &options);
             bool ok = r != nullptr && zv_recorder_wait(r, 5000) == 0 &&
                       zv_recorder_samples(r) == kSamples;
             zv_recorder_close(r);
             zv_raw_stream_close(s);
             return ok;
         }},
        {"zv_power_unit_exponent",
         [](zv_device *) {
             int32_t exponent = 0;
             return zv_power_unit_exponent("kW", &exponent) == ZV_ERROR_INVALID_ARGUMENT;
         }},
    };
}

} // namespace

TEST(AllocationFailure, EveryEntryPointReportsItAndLeavesTheDetectorUsable) {
    g_path = testing::TempDir() + "allocation_failures.h5";
    zvsim::attach(zvsim::DetectorConfig{});
    // The opens open the second detector: the first is held, and opened once per process.
    zvsim::DetectorConfig second;
    second.serial = "HLM25-S00002IC";
    zvsim::attach(second);
    zv_device *dev = zv_open();
    ASSERT_NE(dev, nullptr);
    for (const EntryPoint &entry : entry_points()) {
        long failures = 0;
        for (long n = 1;; ++n) {
            t_allocations = 0;
            t_failed = false;
            t_fail_at = n;
            bool succeeded = false;
            try {
                succeeded = entry.call(dev);
            } catch (...) {
                t_fail_at = 0;
                ADD_FAILURE() << entry.name << ": an exception crossed the C interface";
                break;
            }
            t_fail_at = 0;
            if (!t_failed) {
                EXPECT_TRUE(succeeded) << entry.name << " without a failed allocation";
                break;
            }
            ++failures;
            // A failure is reported with a code: 49, or the code of the step it made fail (a
            // request that could not be made is a USB failure).
            if (!succeeded) {
                EXPECT_NE(zv_get_error(), 0) << entry.name << ", allocation " << n;
            }
            // The detector works normally afterwards.
            EXPECT_TRUE(entry.call(dev))
                << entry.name << " after failing allocation " << n << ": " << zv_get_error_string();
        }
        // Each of these allocates: a call that never failed was not tested.
        EXPECT_GT(failures, 0) << entry.name;
    }
    zv_close(dev);
    zvsim::detach_all();
    std::remove(g_path.c_str());
}
