#include "stream/filter_modes.h"

#include <cstdio>

#include "libzv/errors.h"
#include "stream/dsp/dsp.h"
#include "stream/filter_processor.h"
#include "stream/simple_fir_processor.h"

const char *const kFilterNone = "none";
const char *const kDecimationFilter = "butterworth4";

namespace {

// What a processor is built from.
template <typename T> struct ProcessorSetup {
    const ProcessingState<T> &state;
    double samplerate;
    double cutoff;
};

template <typename T>
using Builder = int (*)(const ProcessorSetup<T> &, std::unique_ptr<Processor<T>> &);

template <typename T> struct FilterMode {
    const char *name;
    Builder<T> build;
};

template <typename T>
int build_calibrated(const ProcessorSetup<T> &setup, std::unique_ptr<Processor<T>> &processor) {
    processor = std::make_unique<CalibratedProcessor<T>>(setup.state);
    return 0;
}

template <typename T>
int build_fir(const ProcessorSetup<T> &setup, std::unique_ptr<Processor<T>> &processor) {
    uint64_t taps = 0;
    const int status = fir_tap_count(setup.samplerate, setup.cutoff, taps);
    if (status != 0) return status;
    processor = SimpleFIRProcessor<T>::create(setup.state, taps);
    return processor ? 0 : zv::set_error(zv::Error::out_of_memory);
}

// The designs run at sample rate 1 with the cutoff as a fraction of the sample rate.
constexpr double kDesignSampleRate = 1.0;
constexpr double kChebyshevRippleDb = 0.05;
constexpr double kRbjQ = 1.0;

template <typename T> double normalized_cutoff(const ProcessorSetup<T> &setup) {
    return setup.cutoff / setup.samplerate;
}

template <int MaxOrder, class Form>
using ButterworthFilter = Dsp::SimpleFilter<Dsp::Butterworth::LowPass<MaxOrder>, 1, Form>;
template <int MaxOrder>
using ChebyshevIFilter =
    Dsp::SimpleFilter<Dsp::ChebyshevI::LowPass<MaxOrder>, 1, Dsp::DirectFormII>;
using RbjFilter = Dsp::SimpleFilter<Dsp::RBJ::LowPass, 1, Dsp::DirectFormII>;
template <int MaxOrder>
using ParameterisedButterworth =
    Dsp::FilterDesign<Dsp::Butterworth::Design::LowPass<MaxOrder>, 1, Dsp::DirectFormII>;

template <typename T, int Order, class Form = Dsp::DirectFormII>
int build_butterworth(const ProcessorSetup<T> &setup, std::unique_ptr<Processor<T>> &processor) {
    using F = ButterworthFilter<Order, Form>;
    const double w = normalized_cutoff(setup);
    processor = std::make_unique<SimpleFilterProcessor<T, F>>(
        setup.state, [w](F &f) { f.design(Order, kDesignSampleRate, w); });
    return 0;
}

template <typename T, int MaxOrder, int Order = MaxOrder>
int build_chebyshev_i(const ProcessorSetup<T> &setup, std::unique_ptr<Processor<T>> &processor) {
    using F = ChebyshevIFilter<MaxOrder>;
    const double w = normalized_cutoff(setup);
    processor = std::make_unique<SimpleFilterProcessor<T, F>>(
        setup.state, [w](F &f) { f.design(Order, kDesignSampleRate, w, kChebyshevRippleDb); });
    return 0;
}

template <typename T>
int build_rbj(const ProcessorSetup<T> &setup, std::unique_ptr<Processor<T>> &processor) {
    const double w = normalized_cutoff(setup);
    processor = std::make_unique<SimpleFilterProcessor<T, RbjFilter>>(
        setup.state, [w](RbjFilter &f) { f.design(kDesignSampleRate, w, kRbjQ); });
    return 0;
}

// The "badbutter" modes: first order at cutoff / MaxOrder (see FilterProcessor).
template <typename T, int MaxOrder>
int build_parameterised_butterworth(const ProcessorSetup<T> &setup,
                                    std::unique_ptr<Processor<T>> &processor) {
    processor = std::make_unique<FilterProcessor<T, ParameterisedButterworth<MaxOrder>>>(
        setup.state, MaxOrder, setup.samplerate, setup.cutoff);
    return 0;
}

// Every filter mode by name, with the processor it builds.
template <typename T>
const FilterMode<T> kFilterModes[] = {
    {kFilterNone, build_calibrated<T>},
    {"badbutter2", build_parameterised_butterworth<T, 2>},
    {"badbutter4", build_parameterised_butterworth<T, 4>},
    {"badbutter8", build_parameterised_butterworth<T, 8>},
    {"butterdfI2", build_butterworth<T, 2, Dsp::DirectFormI>},
    {"butterdfII2", build_butterworth<T, 2, Dsp::DirectFormII>},
    {"buttertdfI2", build_butterworth<T, 2, Dsp::TransposedDirectFormI>},
    {"buttertdfII2", build_butterworth<T, 2, Dsp::TransposedDirectFormII>},
    {"butterworth2", build_butterworth<T, 2>},
    {kDecimationFilter, build_butterworth<T, 4>}, // "butterworth4"
    {"butterworth6", build_butterworth<T, 6>},
    {"butterworth8", build_butterworth<T, 8>},
    {"rbj", build_rbj<T>},
    {"chebyI2", build_chebyshev_i<T, 2>},
    {"chebyI4", build_chebyshev_i<T, 4>},
    {"chebyI6", build_chebyshev_i<T, 6>},
    {"chebyI8", build_chebyshev_i<T, 8>},
    {"chebyImax8but2", build_chebyshev_i<T, 8, 2>},
    {"chebyImax8but4", build_chebyshev_i<T, 8, 4>},
    {"chebyImax8but6", build_chebyshev_i<T, 8, 6>},
    {"fir", build_fir<T>},
};

} // namespace

template <typename T>
int make_processor(const std::string &name, const ProcessingState<T> &state, double samplerate,
                   double cutoff, std::unique_ptr<Processor<T>> &processor) {
    processor.reset();
    const ProcessorSetup<T> setup{state, samplerate, cutoff};
    for (const FilterMode<T> &mode : kFilterModes<T>) {
        if (name != mode.name) continue;
        try {
            return mode.build(setup, processor);
        } catch (const std::bad_alloc &) {
            processor.reset();
            return zv::set_error(zv::Error::out_of_memory);
        }
    }
    std::printf("unimplemented filter mode %s\n", name.c_str());
    std::fflush(stdout);
    return zv::set_error(zv::Error::unknown_filter_mode);
}

std::vector<std::string> filter_mode_names() {
    std::vector<std::string> names;
    for (const FilterMode<float> &mode : kFilterModes<float>)
        names.emplace_back(mode.name);
    return names;
}

template int make_processor<float>(const std::string &, const ProcessingState<float> &, double,
                                   double, std::unique_ptr<Processor<float>> &);
template int make_processor<double>(const std::string &, const ProcessingState<double> &, double,
                                    double, std::unique_ptr<Processor<double>> &);
