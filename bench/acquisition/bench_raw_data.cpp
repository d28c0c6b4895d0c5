// Collection throughput from a simulated detector: 100 million raw samples through zv_collect
// with a sink that only counts (engine, transport and simulator; no copy), and through
// zv_get_raw_data into a reused and into a fresh buffer (adding the copy sink). Prints samples
// per second for each; the simulator's own generation cost is measured by bench_sim_generate.
//
// Usage: bench_raw_data [samples] [repeats]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "libzv/libzv.h"
#include "sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Counter {
    uint64_t remaining;
    static int sink(const uint16_t *, int count, int, void *user) {
        auto &c = *static_cast<Counter *>(user);
        const uint64_t n = count > 0 ? uint64_t(count) : 0;
        c.remaining -= std::min(n, c.remaining);
        return c.remaining > 0;
    }
};

template <typename Run> double best_seconds(int repeats, Run run) {
    double best = 1e30;
    for (int i = 0; i < repeats; ++i) {
        const auto t0 = Clock::now();
        if (run() != 0) {
            std::fprintf(stderr, "collection failed: %d %s\n", zv_get_error(),
                         zv_get_error_string());
            std::exit(1);
        }
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

void report(const char *what, uint64_t samples, double seconds) {
    std::printf("%-44s %8.3f s  %8.1f MS/s\n", what, seconds, samples / seconds / 1e6);
}

} // namespace

int main(int argc, char **argv) {
    const uint64_t samples = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000000ull;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;

    auto detector = zvsim::attach(zvsim::DetectorConfig{});
    zv_device *dev = zv_open_serial(detector->serial().c_str());
    if (dev == nullptr) {
        std::fprintf(stderr, "cannot open the simulated detector: %s\n", zv_get_error_string());
        return 1;
    }
    std::printf("%llu samples per collection, best of %d; packets of %u samples\n",
                static_cast<unsigned long long>(samples), repeats,
                detector->stream_packet_size() / 2);

    const double counted = best_seconds(repeats, [&] {
        Counter c{samples};
        return zv_collect(dev, Counter::sink, &c);
    });
    report("zv_collect, counting sink (no copy)", samples, counted);

    std::vector<uint16_t> reused(samples, 0); // pages touched once, before timing
    const double copied =
        best_seconds(repeats, [&] { return zv_get_raw_data(dev, reused.data(), samples); });
    report("zv_get_raw_data, reused buffer", samples, copied);

    const double fresh = best_seconds(repeats, [&] {
        // Like numpy.zeros: zeroed pages mapped on first touch, inside the collection.
        std::unique_ptr<uint16_t, decltype(&std::free)> buffer(
            static_cast<uint16_t *>(std::calloc(samples, sizeof(uint16_t))), &std::free);
        return zv_get_raw_data(dev, buffer.get(), samples);
    });
    report("zv_get_raw_data, fresh buffer each time", samples, fresh);

    zv_close(dev);
    zvsim::detach_all();
    return 0;
}
