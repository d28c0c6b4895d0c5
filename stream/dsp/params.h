// Parameters of a parameterised design: the set of values and each value's description.
#pragma once

#include <array>
#include <string>

namespace Dsp {

// Values of a design's parameters, read by index; a design defines the first few.
constexpr int kMaxParams = 8;
using Params = std::array<double, kMaxParams>;

// What a parameter stands for, independent of its index in a design.
enum class ParamId : int {
    sample_rate = 0,
    cutoff_frequency = 1,
    order = 7,
};

// Description of one parameter: range, default, how it maps onto a 0..1 control (a slider)
// and how it reads as text.
struct ParamInfo {
    enum class Scale {
        linear,         // control = (value - min) / (max - min)
        linear_integer, // linear, back to the nearest whole value
        log_1_5,        // linear in the logarithm to base 1.5
    };
    enum class Text {
        whole,       // "12"
        whole_hertz, // "12 Hz"
    };

    ParamId id;
    const char *label;
    const char *name;
    double min;
    double max;
    double default_value;
    Scale scale;
    Text text;

    double to_control_value(double value) const;
    double to_native_value(double control_value) const;
    // The value truncated toward zero to a whole number, with its unit.
    std::string to_string(double value) const;
};

// The parameters of a low-pass design of order up to max_order: (0) "Sample Rate",
// (1) "Order", (2) "Cutoff Frequency". Any other index throws std::logic_error.
ParamInfo low_pass_param_info(int index, int max_order);
constexpr int kLowPassParamCount = 3;

// The order a parameter value asks for: truncated toward zero, negative or not-a-number as 0,
// and never more than max_order.
int order_from_param(double value, int max_order);

} // namespace Dsp
