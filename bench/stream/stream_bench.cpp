// Processing speed of a stream without a device: each filter mode and element type processes
// raw blocks of 5120 words into an output block that is overwritten again and again. Prints one
// line per case with the best of several rounds:
//   <mode> <float32|float64> downsampling=<n> flags=<0|1> msps=<million samples per second>
//
// Usage: stream_bench [--length N] [--samples N] [--rounds N] [--flags] [--downsampling N]
//                     [--type float32|float64|both] [mode ...]   (default mode: none)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "stream/stream_impl.h"

namespace {

struct Options {
    int32_t length = 131072;
    int64_t samples = 200000000;
    int rounds = 7;
    bool flags = false;
    int32_t downsampling = 1;
    std::vector<std::string> types = {"float32", "float64"};
    std::vector<std::string> modes;
};

// Best throughput in million raw samples per second, or a negative value on failure.
template <typename T> double best_msps(const Options &o, const std::string &mode) {
    ZVStreamImpl<T> stream(nullptr);
    stream.set_filter(mode);
    stream.set_cutoff(stream.read_samplerate() * 0.05);
    stream.set_downsampling(o.downsampling);
    const int64_t block = ZVStreamImpl<T>::kSyntheticBlock;
    const int32_t repeats = static_cast<int32_t>((o.samples + block - 1) / block);
    double best = -1.0;
    for (int r = 0; r < o.rounds; ++r) {
        const double seconds = stream.benchmark(o.length, repeats, o.flags);
        if (seconds < 0) return -1.0;
        const double msps = double(repeats) * double(block) / seconds / 1e6;
        if (msps > best) best = msps;
    }
    return best;
}

bool parse(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--length" && has_value)
            o.length = std::atoi(argv[++i]);
        else if (arg == "--samples" && has_value)
            o.samples = std::atoll(argv[++i]);
        else if (arg == "--rounds" && has_value)
            o.rounds = std::atoi(argv[++i]);
        else if (arg == "--downsampling" && has_value)
            o.downsampling = std::atoi(argv[++i]);
        else if (arg == "--flags")
            o.flags = true;
        else if (arg == "--type" && has_value) {
            const std::string type = argv[++i];
            if (type == "both")
                o.types = {"float32", "float64"};
            else if (type == "float32" || type == "float64")
                o.types = {type};
            else
                return false;
        } else if (arg.rfind("--", 0) == 0)
            return false;
        else
            o.modes.push_back(arg);
    }
    if (o.modes.empty()) o.modes.push_back("none");
    return o.length > 0 && o.samples > 0 && o.rounds > 0;
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: %s [--length N] [--samples N] [--rounds N] [--flags] "
                     "[--downsampling N] [--type float32|float64|both] [mode ...]\n",
                     argv[0]);
        return 2;
    }
    int failures = 0;
    for (const std::string &mode : o.modes) {
        for (const std::string &type : o.types) {
            const double msps =
                type == "float32" ? best_msps<float>(o, mode) : best_msps<double>(o, mode);
            if (msps < 0) {
                std::printf("%s %s failed: %d %s\n", mode.c_str(), type.c_str(), zv_get_error(),
                            zv_get_error_string());
                ++failures;
                continue;
            }
            std::printf("%s %s downsampling=%d flags=%d msps=%.1f\n", mode.c_str(), type.c_str(),
                        o.downsampling, o.flags ? 1 : 0, msps);
            std::fflush(stdout);
        }
    }
    return failures ? 1 : 0;
}
