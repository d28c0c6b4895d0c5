// Throughput of the cascade kernels: Butterworth low passes of order 2, 4 and 8 in each state
// form, on double samples, with the plain per-sample loop, the scalar kernel, the AVX2 kernel
// and the kernel chosen at run time ("auto"). Prints one line per case, with whether the
// output is bit-identical to the plain loop's; bench/dsp/run sets them beside scipy's sosfilt.
// Times are the running thread's processor time, best of the repeats.
//
// dsp_bench [--samples N] [--repeats R] [--cutoff W] [--input FILE] [--print-stages]
//   --input reads N little-endian doubles from FILE instead of generating noise.
#include "stream/dsp/butterworth.h"
#include "stream/dsp/cascade_process.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <time.h>
#include <vector>

namespace {

// Seconds of processor time used by this thread: the throughput of one core, which other
// programs running on the machine at the same time do not dilute.
double thread_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

struct Options {
    int samples = 10'000'000;
    int repeats = 3;
    double cutoff = 0.1;
    const char *input = nullptr;
    bool print_stages = false;
};

bool parse(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--samples" && has_value)
            o.samples = std::atoi(argv[++i]);
        else if (arg == "--repeats" && has_value)
            o.repeats = std::atoi(argv[++i]);
        else if (arg == "--cutoff" && has_value)
            o.cutoff = std::atof(argv[++i]);
        else if (arg == "--input" && has_value)
            o.input = argv[++i];
        else if (arg == "--print-stages")
            o.print_stages = true;
        else
            return false;
    }
    return o.samples > 0 && o.repeats > 0;
}

std::vector<double> make_input(const Options &o) {
    std::vector<double> x(o.samples);
    if (o.input) {
        FILE *f = std::fopen(o.input, "rb");
        const bool ok = f && std::fread(x.data(), sizeof(double), x.size(), f) == x.size();
        if (f) std::fclose(f);
        if (!ok) {
            std::fprintf(stderr, "dsp_bench: cannot read %d doubles from %s\n", o.samples, o.input);
            std::exit(2);
        }
        return x;
    }
    std::mt19937_64 rng(12345);
    std::normal_distribution<double> noise;
    for (double &v : x)
        v = noise(rng);
    return x;
}

struct KernelName {
    Dsp::Kernel kernel;
    const char *name;
};

// The plain loop first: the others are compared with its output.
const KernelName kKernels[] = {{Dsp::Kernel::reference, "plain"},
                               {Dsp::Kernel::scalar, "scalar"},
                               {Dsp::Kernel::lanes_avx2, "avx2"},
                               {Dsp::Kernel::automatic, "auto"}};

constexpr int kOrders[] = {2, 4, 8};

Dsp::Butterworth::LowPass<8> design_for(int order, const Options &o) {
    Dsp::Butterworth::LowPass<8> design;
    design.design(order, 1.0, o.cutoff);
    return design;
}

// The stages of each benchmarked design, for sosfilt to run the same filter.
void print_stages(const Options &o) {
    for (int order : kOrders) {
        const Dsp::Butterworth::LowPass<8> design = design_for(order, o);
        for (int k = 0; k < design.num_stages(); ++k) {
            const Dsp::BiquadBase &s = design.stage(k);
            std::printf("STAGE order=%d %.17g %.17g %.17g %.17g %.17g %.17g\n", order, s.b0(),
                        s.b1(), s.b2(), 1.0, s.a1(), s.a2());
        }
    }
}

template <class Form>
void bench_form(const char *form_name, const Options &o, const std::vector<double> &input) {
    for (int order : kOrders) {
        const Dsp::Butterworth::LowPass<8> design = design_for(order, o);
        std::vector<double> reference_output;
        for (const KernelName &kernel : kKernels) {
            double best = 1e300;
            std::vector<double> work;
            bool ran = true;
            for (int r = 0; r < o.repeats && ran; ++r) {
                work = input;
                Form states[4];
                Dsp::DenormalConstant denormal;
                const double t0 = thread_seconds();
                ran = Dsp::process_cascade_with(kernel.kernel, o.samples, work.data(),
                                                design.stages(), design.num_stages(), states,
                                                denormal);
                best = std::min(best, thread_seconds() - t0);
            }
            if (!ran) continue; // not built for this stage count, or no AVX2 here
            if (kernel.kernel == Dsp::Kernel::reference) reference_output = work;
            const bool same = std::memcmp(work.data(), reference_output.data(),
                                          work.size() * sizeof(double)) == 0;
            std::printf("RESULT form=%s order=%d kernel=%s msps=%.1f identical=%s\n", form_name,
                        order, kernel.name, o.samples / best / 1e6, same ? "yes" : "NO");
            std::fflush(stdout);
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: dsp_bench [--samples N] [--repeats R] [--cutoff W] "
                             "[--input FILE] [--print-stages]\n");
        return 2;
    }
    const std::vector<double> input = make_input(o);
    if (o.print_stages) print_stages(o);
    bench_form<Dsp::DirectFormI>("DirectFormI", o, input);
    bench_form<Dsp::DirectFormII>("DirectFormII", o, input);
    bench_form<Dsp::TransposedDirectFormI>("TransposedDirectFormI", o, input);
    bench_form<Dsp::TransposedDirectFormII>("TransposedDirectFormII", o, input);
    return 0;
}
