#include "stream/dsp/params.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace Dsp {

namespace {

// The rows of a low-pass design, by index. The order's maximum is the design's.
const ParamInfo kLowPassParams[kLowPassParamCount] = {
    {ParamId::sample_rate, "Fs", "Sample Rate", 11025, 192000, 44100, ParamInfo::Scale::linear,
     ParamInfo::Text::whole_hertz},
    {ParamId::order, "Order", "Order", 1, 0, 2, ParamInfo::Scale::linear_integer,
     ParamInfo::Text::whole},
    {ParamId::cutoff_frequency, "Fc", "Cutoff Frequency", 10, 22040, 2000,
     ParamInfo::Scale::log_1_5, ParamInfo::Text::whole_hertz},
};
constexpr int kOrderRow = 1;

double log_1_5(double x) {
    return std::log(x) / std::log(1.5);
}

} // namespace

double ParamInfo::to_control_value(double value) const {
    if (scale == Scale::log_1_5)
        return (log_1_5(value) - log_1_5(min)) / (log_1_5(max) - log_1_5(min));
    return (value - min) / (max - min);
}

double ParamInfo::to_native_value(double control_value) const {
    switch (scale) {
    case Scale::linear_integer:
        return std::floor((max - min) * control_value + min + 0.5);
    case Scale::log_1_5:
        return std::pow(1.5, log_1_5(min) + (log_1_5(max) - log_1_5(min)) * control_value);
    case Scale::linear:
        break;
    }
    return (max - min) * control_value + min;
}

std::string ParamInfo::to_string(double value) const {
    // Adding 0.0 turns a truncated -0 into 0.
    const double whole = std::trunc(value) + 0.0;
    const char *unit = text == Text::whole_hertz ? " Hz" : "";
    const int length = std::snprintf(nullptr, 0, "%.0f%s", whole, unit);
    std::string out(static_cast<size_t>(length), '\0');
    std::snprintf(out.data(), out.size() + 1, "%.0f%s", whole, unit);
    return out;
}

ParamInfo low_pass_param_info(int index, int max_order) {
    if (index < 0 || index >= kLowPassParamCount)
        throw std::logic_error("invalid usage of ParamInfo");
    ParamInfo info = kLowPassParams[index];
    if (index == kOrderRow) info.max = max_order;
    return info;
}

int order_from_param(double value, int max_order) {
    if (!(value >= 1.0)) return 0;
    if (value >= max_order) return max_order;
    return static_cast<int>(value);
}

} // namespace Dsp
