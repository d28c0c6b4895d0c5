// The filter modes a stream knows by name and the processor each one builds.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "stream/processor.h"

// The mode that applies calibration only.
extern const char *const kFilterNone;
// The anti-aliasing low pass that decimation selects.
extern const char *const kDecimationFilter;

// Builds the processor of filter mode name (exact, case-sensitive) for the stream state, the
// raw sample rate and the cutoff, both in Hz. Returns 0; or, for a name not in the table, prints
// "unimplemented filter mode <name>" and returns 53 "unknown filter mode"; or returns the error
// of a processor that cannot be built (48, 49). On failure processor is null.
template <typename T>
int make_processor(const std::string &name, const ProcessingState<T> &state, double samplerate,
                   double cutoff, std::unique_ptr<Processor<T>> &processor);

// Every mode name, in table order.
std::vector<std::string> filter_mode_names();

extern template int make_processor<float>(const std::string &, const ProcessingState<float> &,
                                          double, double, std::unique_ptr<Processor<float>> &);
extern template int make_processor<double>(const std::string &, const ProcessingState<double> &,
                                           double, double, std::unique_ptr<Processor<double>> &);
