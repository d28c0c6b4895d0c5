// Soak run: a processed stream from a real-time simulated detector for a given time, as a lab
// program would run it, reporting what it delivered, every data loss and the process's memory.
// Exits non-zero when samples were lost, the stream failed or memory kept growing.
//
// Usage: zv_soak [seconds=600] [samplerate=80000000] [decimation=10]
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "libzv/libzv.h"
#include "sim/simulator.h"
#include "stream/zv_stream.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kBlock = 131072; // the block size of the stream's own supplies
constexpr double kReportEverySeconds = 60;

// Resident and peak resident memory of this process, in MiB.
double resident_mib() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long kib = 0;
    while (status >> key)
        if (key == "VmRSS:" && status >> kib) break;
    return kib / 1024.0;
}

double peak_mib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// Processor time of this process (user and system), in seconds.
double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Takes block after block until the time is up; counts samples and the blocks the stream marked
// as having lost raw data.
class TimedSupply : public ZVStreamSupply<float> {
  public:
    TimedSupply(double seconds, const zvsim::SimulatedDetector &detector)
        : seconds_(seconds), detector_(detector), block_(new float[kBlock]), start_(Clock::now()),
          next_report_(kReportEverySeconds) {}

    float *next_block(int32_t &count) override {
        count = kBlock;
        return block_.get();
    }
    uint8_t *flag_block(int32_t) override { return nullptr; }
    int32_t advance(int32_t written, int32_t lost) override {
        // Samples the detector dropped before the first block (while the collection started, in
        // the transfers the engine discards) never reach the user and are counted apart.
        if (samples == 0) dropped_at_start = detector_.dropped();
        samples += uint64_t(written);
        const double t = elapsed();
        if (lost) {
            ++loss_events;
            std::printf("  %7.2f s: data loss (the detector has dropped %llu raw samples)\n", t,
                        static_cast<unsigned long long>(detector_.dropped()));
            std::fflush(stdout);
        }
        if (t >= next_report_) {
            std::printf("  %5.0f s: %llu samples, %llu loss events, %llu raw samples dropped, "
                        "%.1f MiB resident\n",
                        t, static_cast<unsigned long long>(samples),
                        static_cast<unsigned long long>(loss_events),
                        static_cast<unsigned long long>(detector_.dropped()), resident_mib());
            std::fflush(stdout);
            next_report_ += kReportEverySeconds;
        }
        if (t >= 1.0 && resident_after_1s < 0) resident_after_1s = resident_mib();
        return t < seconds_;
    }
    double elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

    uint64_t samples = 0;
    uint64_t loss_events = 0;
    uint64_t dropped_at_start = 0;
    double resident_after_1s = -1;

  private:
    const double seconds_;
    const zvsim::SimulatedDetector &detector_;
    std::unique_ptr<float[]> block_;
    const Clock::time_point start_;
    double next_report_;
};

} // namespace

int main(int argc, char **argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 600;
    const uint32_t samplerate = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 80000000;
    const int decimation = argc > 3 ? std::atoi(argv[3]) : 10;

    zvsim::DetectorConfig config;
    config.realtime = true;
    config.samplerate = samplerate;
    auto detector = zvsim::attach(config);
    zv_device *dev = zv_open_serial(detector->serial().c_str());
    if (dev == nullptr) {
        std::fprintf(stderr, "soak: cannot open the simulated detector: %s\n",
                     zv_get_error_string());
        return 2;
    }
    std::unique_ptr<ZVStream<float>> stream(zv_open_stream_float(dev));
    if (!stream || stream->set_decimation(decimation) != 0) {
        std::fprintf(stderr, "soak: cannot set up the stream: %s\n", zv_get_error_string());
        return 2;
    }
    std::printf("soak: %.0f s of a real-time detector at %u samples/s, decimation %d (%s), "
                "float32 blocks of %d\n",
                seconds, samplerate, decimation, stream->read_filter().c_str(), kBlock);
    std::fflush(stdout);

    const double resident_before = resident_mib();
    const double cpu_before = cpu_seconds();
    TimedSupply supply(seconds, *detector);
    const int status = stream->run(&supply);
    const double took = supply.elapsed();
    const double cpu = cpu_seconds() - cpu_before;
    const double resident_after = resident_mib();
    const uint64_t dropped = detector->dropped();
    stream.reset();
    zv_close(dev);

    const double expected = double(samplerate) / decimation * took;
    std::printf("soak: %.1f s, status %d%s%s; processor time %.1f s (%.0f%% of one core: "
                "simulated detector, engine and stream together)\n",
                took, status, status ? ": " : "", status ? zv_get_error_string() : "", cpu,
                100 * cpu / took);
    std::printf("soak: samples delivered   %llu (%.1f%% of %.0f the sample rate gives)\n",
                static_cast<unsigned long long>(supply.samples), 100.0 * supply.samples / expected,
                expected);
    const uint64_t dropped_later = dropped - supply.dropped_at_start;
    std::printf("soak: data-loss events    %llu (raw samples dropped by the detector: %llu, "
                "%llu of them while the collection started)\n",
                static_cast<unsigned long long>(supply.loss_events),
                static_cast<unsigned long long>(dropped),
                static_cast<unsigned long long>(supply.dropped_at_start));
    std::printf("soak: memory              peak %.1f MiB; resident %.1f MiB at start, %.1f MiB "
                "after 1 s, %.1f MiB at the end\n",
                peak_mib(), resident_before, supply.resident_after_1s, resident_after);

    // Growth after the first second (buffers are in place by then) would be a leak.
    const bool grew =
        supply.resident_after_1s > 0 && resident_after > supply.resident_after_1s + 16;
    const bool ok = status == 0 && supply.loss_events == 0 && dropped_later == 0 && !grew;
    std::printf("soak: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
