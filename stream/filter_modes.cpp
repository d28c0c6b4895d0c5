#include "stream/filter_modes.h"

#include <cstdio>

#include "libzv/errors.h"
#include "stream/calibrated_processor.h"
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

// Every filter mode by name, with the processor it builds.
template <typename T>
const FilterMode<T> kFilterModes[] = {
    {kFilterNone, build_calibrated<T>},
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
