// Writer throughput: synthetic blocks of a ramp through libzv's recording writer (its C interface)
// into a file, timed from before the file is created to after it is closed (and, with --fsync,
// after its data reached the disk). Prints one line: samples, bytes, seconds, MB/s, MS/s.
//
//   recorder_bench FILE SAMPLES [--kind raw|float32] [--block N] [--fsync] [--keep]
//
// Blocks of N samples (default 1 Mi: 13 ms at 80 MS/s) are prepared once and appended again and
// again, so the figure is the writer's and the file system's alone. The file is deleted afterwards
// unless --keep.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "libzv/libzv.h"

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: recorder_bench FILE SAMPLES [--kind raw|float32] "
                             "[--block N] [--fsync] [--keep]\n");
        return 2;
    }
    const char *path = argv[1];
    const uint64_t total = std::strtoull(argv[2], nullptr, 10);
    int kind = ZV_RECORDING_RAW;
    uint64_t block_samples = 1 << 20;
    bool sync = false, keep = false;
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--kind" && i + 1 < argc)
            kind = std::string(argv[++i]) == "float32" ? ZV_RECORDING_FLOAT32 : ZV_RECORDING_RAW;
        else if (a == "--block" && i + 1 < argc)
            block_samples = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--fsync")
            sync = true;
        else if (a == "--keep")
            keep = true;
    }
    std::vector<uint16_t> raw(block_samples);
    std::vector<float> values(block_samples);
    for (uint64_t i = 0; i < block_samples; ++i) {
        raw[i] = uint16_t(i % 16384);
        values[i] = float(i % 16384) * 0.001f;
    }
    zv_recording_info info{};
    std::strcpy(info.serial, "BENCH");
    std::strcpy(info.filter, "none");
    info.samplerate = info.device_samplerate = 80e6;
    info.adc_bits = 14;
    info.calibration[0] = 1;
    info.units = -6;
    info.downsampling = info.decimation = 1;

    const auto start = std::chrono::steady_clock::now();
    zv_recording_writer *writer = zv_recording_writer_open(path, &info, kind, true);
    if (!writer) {
        std::fprintf(stderr, "recorder_bench: %s\n", zv_get_error_string());
        return 1;
    }
    for (uint64_t done = 0; done < total;) {
        zv_block block{};
        block.index = done;
        block.count = std::min(block_samples, total - done);
        block.time = 1.7e9;
        const int status = kind == ZV_RECORDING_RAW
                               ? zv_recording_writer_append_raw(writer, raw.data(), &block)
                               : zv_recording_writer_append_float(writer, values.data(), &block);
        if (status != 0) {
            std::fprintf(stderr, "recorder_bench: %s\n", zv_get_error_string());
            zv_recording_writer_close(writer);
            return 1;
        }
        done += block.count;
    }
    if (zv_recording_writer_close(writer) != 0) {
        std::fprintf(stderr, "recorder_bench: %s\n", zv_get_error_string());
        return 1;
    }
    if (sync) {
        const int fd = open(path, O_RDONLY);
        if (fd < 0 || fsync(fd) != 0) std::perror("recorder_bench: fsync");
        if (fd >= 0) close(fd);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double bytes = double(total) * (kind == ZV_RECORDING_RAW ? 2 : 4);
    std::printf("%llu samples, %.0f bytes, %.3f s, %.1f MB/s, %.1f MS/s\n",
                static_cast<unsigned long long>(total), bytes, seconds, bytes / seconds / 1e6,
                double(total) / seconds / 1e6);
    if (!keep) unlink(path);
    return 0;
}
