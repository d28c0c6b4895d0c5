// Throughput of the min/max envelope on one core: each sample type, path and block shape, in
// million samples per second of the running thread's processor time (best of several rounds, so
// other programs on the machine do not lower the figures). The shapes: a block that stays in the
// processor's cache, one 40 ms frame of an 80 MS/s stream folded into a screen's width, a block
// far larger than the caches, and short columns (four samples each), where the per-column work
// shows. The target line checks the frame shape with the path chosen at run time.
//
// envelope_bench [--rounds R]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <time.h>
#include <vector>

#include "stream/calibrate.h"
#include "stream/envelope.h"

namespace {

constexpr double kTargetMsps = 2000.0;

double thread_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

struct Shape {
    const char *name;
    uint64_t samples;
    uint64_t columns;
    bool target;
};

const Shape kShapes[] = {
    {"in cache (256 Ki -> 1000)", 262144, 1000, false},
    {"frame (3.2 M -> 1000)", 3200000, 1000, true},
    {"large (64 M -> 2000)", 64000000, 2000, false},
    {"short columns (1 M -> 250 k)", 1000000, 250000, false},
};

struct PathName {
    zv::EnvelopePath path;
    const char *name;
};

const PathName kPaths[] = {{zv::EnvelopePath::portable, "portable"},
                           {zv::EnvelopePath::avx2, "avx2"},
                           {zv::EnvelopePath::automatic, "auto"}};

template <typename T> std::vector<T> noise(uint64_t n) {
    std::vector<T> x(n);
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> code(0, 0x3FFF);
    for (T &v : x)
        v = static_cast<T>(code(rng)) * static_cast<T>(1);
    return x;
}

// Million samples per second, best of `rounds`; each round repeats the fold for about 0.1 s.
template <typename T>
double best_msps(const std::vector<T> &x, uint64_t columns, zv::EnvelopePath path, int rounds) {
    std::vector<T> mins(columns), maxs(columns);
    double best = 0.0;
    for (int r = 0; r < rounds; ++r) {
        uint64_t folded = 0;
        const double t0 = thread_seconds();
        double elapsed = 0.0;
        do {
            zv::envelope(x.data(), x.size(), columns, mins.data(), maxs.data(), path);
            folded += x.size();
            elapsed = thread_seconds() - t0;
        } while (elapsed < 0.1);
        best = std::max(best, folded / elapsed / 1e6);
    }
    return best;
}

template <typename T> bool bench_type(const char *type, int rounds) {
    bool met = true;
    for (const Shape &shape : kShapes) {
        const std::vector<T> x = noise<T>(shape.samples);
        std::printf("%-8s %-30s", type, shape.name);
        double automatic = 0.0;
        for (const PathName &p : kPaths) {
            if (p.path == zv::EnvelopePath::avx2 && !cpu_has_avx2()) {
                std::printf("%10s", "-");
                continue;
            }
            const double msps = best_msps(x, shape.columns, p.path, rounds);
            if (p.path == zv::EnvelopePath::automatic) automatic = msps;
            std::printf("%10.0f", msps);
        }
        std::printf("\n");
        std::fflush(stdout);
        if (shape.target) met &= automatic >= kTargetMsps;
    }
    return met;
}

} // namespace

int main(int argc, char **argv) {
    int rounds = 5;
    if (argc == 3 && std::strcmp(argv[1], "--rounds") == 0)
        rounds = std::atoi(argv[2]);
    else if (argc != 1 || rounds <= 0) {
        std::fprintf(stderr, "usage: envelope_bench [--rounds R]\n");
        return 2;
    }
    std::printf("min/max envelope, one core (thread processor time), best of %d rounds; "
                "million samples per second\n",
                rounds);
    std::printf("%-8s %-30s%10s%10s%10s\n", "type", "block -> columns", "portable", "avx2", "auto");
    bool met = bench_type<uint16_t>("uint16", rounds);
    met &= bench_type<float>("float32", rounds);
    met &= bench_type<double>("float64", rounds);
    std::printf("target: the frame shape at >= %.0f million samples per second with every type: "
                "%s\n",
                kTargetMsps, met ? "met" : "NOT met");
    return 0;
}
