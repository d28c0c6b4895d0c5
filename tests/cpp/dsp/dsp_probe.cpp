// Test probe for the scipy cross-check (tests/python/test_dsp_oracle.py): designs a filter from
// the command line and prints its stages or its response, or filters samples.
//
//   dsp_probe stages   DESIGN...   one line per stage: b0 b1 b2 a0 a1 a2
//   dsp_probe response DESIGN...   frequencies (fractions of the sample rate) on stdin, one per
//                                  line; prints "re im" per frequency
//   dsp_probe filter FORM DESIGN... little-endian doubles on stdin, filtered doubles on stdout;
//                                  FORM is df1, df2, tdf1 or tdf2
// DESIGN is one of
//   butterworth ORDER CUTOFF       (order up to 8, sample rate 1)
//   chebyshev ORDER CUTOFF RIPPLE_DB
//   rbj CUTOFF Q
//   params MAX_ORDER FS ORDER FC   parameterised Butterworth design, MAX_ORDER 2, 4, 6 or 8
#include "stream/dsp/dsp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

[[noreturn]] void usage(const char *why) {
    std::fprintf(stderr, "dsp_probe: %s (see the comment at the top of dsp_probe.cpp)\n", why);
    std::exit(2);
}

double number(const char *text) {
    char *end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0') usage("not a number");
    return value;
}

// Runs `action` on the design named by args, as a SimpleFilter in state form Form.
template <class Form, class Action> void with_design(int argc, char **argv, Action action) {
    if (argc < 1) usage("missing design");
    const std::string kind = argv[0];
    if (kind == "butterworth" && argc == 3) {
        Dsp::SimpleFilter<Dsp::Butterworth::LowPass<8>, 1, Form> f;
        f.design(static_cast<int>(number(argv[1])), 1.0, number(argv[2]));
        action(f, Dsp::stage_span(f));
    } else if (kind == "chebyshev" && argc == 4) {
        Dsp::SimpleFilter<Dsp::ChebyshevI::LowPass<8>, 1, Form> f;
        f.design(static_cast<int>(number(argv[1])), 1.0, number(argv[2]), number(argv[3]));
        action(f, Dsp::stage_span(f));
    } else if (kind == "rbj" && argc == 3) {
        Dsp::SimpleFilter<Dsp::RBJ::LowPass, 1, Form> f;
        f.design(1.0, number(argv[1]), number(argv[2]));
        action(f, Dsp::stage_span(f));
    } else if (kind == "params" && argc == 5) {
        const int max_order = static_cast<int>(number(argv[1]));
        Dsp::Params params{};
        params[0] = number(argv[2]);
        params[1] = number(argv[3]);
        params[2] = number(argv[4]);
        auto run = [&](auto filter) {
            filter.apply_params(params);
            action(filter, Dsp::stage_span(filter.design()));
        };
        switch (max_order) {
        case 2:
            run(Dsp::FilterDesign<Dsp::Butterworth::Design::LowPass<2>, 1, Form>());
            break;
        case 4:
            run(Dsp::FilterDesign<Dsp::Butterworth::Design::LowPass<4>, 1, Form>());
            break;
        case 6:
            run(Dsp::FilterDesign<Dsp::Butterworth::Design::LowPass<6>, 1, Form>());
            break;
        case 8:
            run(Dsp::FilterDesign<Dsp::Butterworth::Design::LowPass<8>, 1, Form>());
            break;
        default:
            usage("MAX_ORDER is 2, 4, 6 or 8");
        }
    } else {
        usage("unknown design or wrong argument count");
    }
}

void print_stages(Dsp::StageSpan span) {
    for (int k = 0; k < span.count; ++k) {
        const Dsp::BiquadBase &s = span.stages[k];
        std::printf("%.17g %.17g %.17g %.17g %.17g %.17g\n", s.b0(), s.b1(), s.b2(), s.a0(), s.a1(),
                    s.a2());
    }
}

void print_response(Dsp::StageSpan span) {
    double f;
    while (std::scanf("%lf", &f) == 1) {
        const Dsp::complex_t h = Dsp::cascade_response(span.stages, span.count, f);
        std::printf("%.17g %.17g\n", h.real(), h.imag());
    }
}

template <class Filter> void filter_stdin(Filter &filter) {
    std::vector<double> samples;
    double buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, sizeof(double), 4096, stdin)) > 0)
        samples.insert(samples.end(), buffer, buffer + got);
    double *channel = samples.data();
    filter.process(static_cast<int>(samples.size()), &channel);
    std::fwrite(samples.data(), sizeof(double), samples.size(), stdout);
}

template <class Form> void filter_command(int argc, char **argv) {
    with_design<Form>(argc, argv, [](auto &filter, Dsp::StageSpan) { filter_stdin(filter); });
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) usage("missing command");
    const std::string command = argv[1];
    if (command == "stages") {
        with_design<Dsp::DirectFormII>(argc - 2, argv + 2,
                                       [](auto &, Dsp::StageSpan span) { print_stages(span); });
    } else if (command == "response") {
        with_design<Dsp::DirectFormII>(argc - 2, argv + 2,
                                       [](auto &, Dsp::StageSpan span) { print_response(span); });
    } else if (command == "filter" && argc >= 3) {
        const std::string form = argv[2];
        if (form == "df1")
            filter_command<Dsp::DirectFormI>(argc - 3, argv + 3);
        else if (form == "df2")
            filter_command<Dsp::DirectFormII>(argc - 3, argv + 3);
        else if (form == "tdf1")
            filter_command<Dsp::TransposedDirectFormI>(argc - 3, argv + 3);
        else if (form == "tdf2")
            filter_command<Dsp::TransposedDirectFormII>(argc - 3, argv + 3);
        else
            usage("FORM is df1, df2, tdf1 or tdf2");
    } else {
        usage("unknown command");
    }
    return 0;
}
