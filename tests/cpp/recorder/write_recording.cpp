// A test program that writes a ramp recording through libzv's C interface, for the Python tests:
// they read its files back, follow them while they grow and kill it while it writes.
//
//   write_recording FILE [--kind raw|float32] [--samples N | --forever] [--block N]
//                   [--gap-every BLOCKS --gap-lost N] [--change-every BLOCKS] [--rate S/s]
//                   [--overwrite]
//
// Every sample is its stream position (ramp_blocks.h); a gap skips --gap-lost positions before
// every --gap-every-th block (device and overflow kinds in turn), a "highgain" change toggles at
// the middle of every --change-every-th block. --rate paces the writing to that many samples a
// second. After each flush it prints "flushed N" (N samples are then in the file for readers);
// at the end "done N". Failures print "write_recording: <message>" and exit with status 1.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "libzv/libzv.h"
#include "ramp_blocks.h"

namespace {

struct Options {
    const char *path = nullptr;
    int kind = ZV_RECORDING_RAW;
    uint64_t samples = 1000000;
    bool forever = false;
    uint64_t block = 10000;
    uint64_t gap_every = 0;
    uint64_t gap_lost = 0;
    uint64_t change_every = 0;
    double rate = 0;
    bool overwrite = false;
};

int usage() {
    std::fprintf(stderr, "usage: write_recording FILE [--kind raw|float32] [--samples N | "
                         "--forever] [--block N] [--gap-every B --gap-lost N] [--change-every B] "
                         "[--rate S/s] [--overwrite]\n");
    return 2;
}

bool parse(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--kind" && has_value) {
            const std::string k = argv[++i];
            if (k != "raw" && k != "float32") return false;
            o.kind = k == "raw" ? ZV_RECORDING_RAW : ZV_RECORDING_FLOAT32;
        } else if (a == "--samples" && has_value) {
            o.samples = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--block" && has_value) {
            o.block = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--gap-every" && has_value) {
            o.gap_every = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--gap-lost" && has_value) {
            o.gap_lost = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--change-every" && has_value) {
            o.change_every = std::strtoull(argv[++i], nullptr, 10);
        } else if (a == "--rate" && has_value) {
            o.rate = std::strtod(argv[++i], nullptr);
        } else if (a == "--forever") {
            o.forever = true;
        } else if (a == "--overwrite") {
            o.overwrite = true;
        } else if (a[0] != '-' && !o.path) {
            o.path = argv[i];
        } else {
            return false;
        }
    }
    return o.path && o.block > 0;
}

int failed() {
    std::fprintf(stderr, "write_recording: %s\n", zv_get_error_string());
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, o)) return usage();
    zv_recording_info info = ramp::detector_info(o.rate > 0 ? o.rate : 80e6);
    if (o.kind == ZV_RECORDING_FLOAT32) std::strcpy(info.filter, "butterworth4");
    zv_recording_writer *writer = zv_recording_writer_open(o.path, &info, o.kind, o.overwrite);
    if (!writer) return failed();

    ramp::Source source;
    std::vector<uint16_t> raw;
    std::vector<float> values;
    const auto start = std::chrono::steady_clock::now();
    auto last_flush = start;
    bool high = true;
    uint64_t written = 0;
    for (uint64_t n = 0; o.forever || written < o.samples; ++n) {
        ramp::Plan plan;
        plan.count = o.forever ? o.block : std::min(o.block, o.samples - written);
        if (o.gap_every && n % o.gap_every == o.gap_every - 1) {
            plan.lost_before = o.gap_lost;
            plan.kind = (n / o.gap_every) % 2 ? ZV_LOSS_OVERFLOW : ZV_LOSS_DEVICE;
        }
        if (o.change_every && n % o.change_every == o.change_every - 1) {
            high = !high;
            plan.changes.push_back({plan.count / 2, high ? 1.0 : 0.0});
        }
        zv_block block;
        const bool is_raw = o.kind == ZV_RECORDING_RAW;
        source.next(plan, block, is_raw ? &raw : nullptr, is_raw ? nullptr : &values);
        const int status = is_raw ? zv_recording_writer_append_raw(writer, raw.data(), &block)
                                  : zv_recording_writer_append_float(writer, values.data(), &block);
        if (status != 0) {
            const int code = failed();
            zv_recording_writer_close(writer);
            return code;
        }
        written += plan.count;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_flush > std::chrono::milliseconds(100)) {
            if (zv_recording_writer_flush(writer) != 0) return failed();
            std::printf("flushed %llu\n", static_cast<unsigned long long>(written));
            std::fflush(stdout);
            last_flush = now;
        }
        if (o.rate > 0) {
            const auto due = start + std::chrono::duration<double>(double(written) / o.rate);
            std::this_thread::sleep_until(due);
        }
    }
    if (zv_recording_writer_close(writer) != 0) return failed();
    std::printf("done %llu\n", static_cast<unsigned long long>(written));
    return 0;
}
