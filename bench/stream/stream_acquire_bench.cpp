// End-to-end acquisition speed of streams on the simulated detector: the acquisition engine
// feeding the stream's sink, processing, and writing into the caller's array. Prints, for each
// case, the best rate of several rounds and how much the process's peak memory grew beyond the
// (already touched) result array:
//   <mode> <float32|float64> downsampling=<n> msps=<million input samples per second>
//   extra_peak_kib=<n>
//
// Usage: stream_acquire_bench [--samples N] [--rounds N]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "libzv/libzv.h"
#include "sim/simulator.h"
#include "stream/zv_stream.h"

namespace {

struct Case {
    const char *mode;
    bool single;
    int32_t decimation; // 0: none
};

long peak_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

template <typename T> bool run_case(zv_device *dev, const Case &c, uint64_t samples, int rounds) {
    std::unique_ptr<ZVStream<T>> stream;
    if constexpr (std::is_same_v<T, float>)
        stream.reset(zv_open_stream_float(dev));
    else
        stream.reset(zv_open_stream_double(dev));
    if (!stream) return false;
    stream->set_calibration_mode("none");
    stream->set_filter(c.mode);
    if (c.decimation) stream->set_decimation(c.decimation);
    const int32_t step = stream->read_downsampling();
    const uint64_t outputs = samples / uint64_t(step);
    // The result array, touched so that its pages count before the first measurement.
    std::vector<T> out(outputs, T(0));
    const long before = peak_kib();
    double best = 0.0;
    for (int r = 0; r < rounds; ++r) {
        const auto start = std::chrono::steady_clock::now();
        const int status = stream->acquire(outputs, out.data(), nullptr);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (status != 0) {
            std::printf("%s failed: %d %s\n", c.mode, status, zv_get_error_string());
            return false;
        }
        const double msps = double(outputs) * double(step) / seconds / 1e6;
        if (msps > best) best = msps;
    }
    std::printf("%s %s downsampling=%d msps=%.1f extra_peak_kib=%ld\n", c.mode,
                std::is_same_v<T, float> ? "float32" : "float64", step, best, peak_kib() - before);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char **argv) {
    uint64_t samples = 100000000;
    int rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--samples"))
            samples = std::strtoull(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[i + 1]);
    }
    zvsim::DetectorConfig config;
    auto detector = zvsim::attach(config);
    zv_device *dev = zv_open_serial(detector->serial().c_str());
    if (!dev) {
        std::printf("no simulated detector: %s\n", zv_get_error_string());
        return 1;
    }
    const Case cases[] = {
        {"none", true, 0},           {"none", false, 0},
        {"butterworth4", false, 0},  {"butterworth4", true, 10}, // set_decimation(10)
        {"butterworth4", false, 10},
    };
    bool ok = true;
    for (const Case &c : cases)
        ok = (c.single ? run_case<float>(dev, c, samples, rounds)
                       : run_case<double>(dev, c, samples, rounds)) &&
             ok;
    zv_close(dev);
    zvsim::detach_all();
    return ok ? 0 : 1;
}
