// Butterworth low pass described by parameters, for FilterDesign.
#pragma once

#include "stream/dsp/butterworth.h"
#include "stream/dsp/filter.h"

namespace Dsp {
namespace Butterworth {
namespace Design {

// Parameters: (0) sample rate, (1) order, (2) cutoff frequency in the sample rate's unit.
template <int MaxOrder> class LowPass : public Butterworth::LowPass<MaxOrder> {
  public:
    static Kind kind() { return Kind::low_pass; }
    static std::string name() { return "Butterworth Low Pass"; }
    static int param_count() { return kLowPassParamCount; }
    static ParamInfo param_info(int index) { return low_pass_param_info(index, MaxOrder); }

    // The order is the parameter truncated toward zero and kept within 0..MaxOrder.
    void apply_params(const Params &params) {
        this->design(order_from_param(params[1], MaxOrder), params[0], params[2]);
    }
};

} // namespace Design
} // namespace Butterworth
} // namespace Dsp
