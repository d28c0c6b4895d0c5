// A filter used through its parameters, without knowing its design at compile time.
#pragma once

#include "stream/dsp/params.h"
#include "stream/dsp/pole_zero.h"

#include <string>
#include <vector>

namespace Dsp {

enum class Kind : int {
    low_pass = 0,
};

class Filter {
  public:
    virtual ~Filter();

    virtual Kind kind() const = 0;
    virtual std::string name() const = 0;
    virtual int param_count() const = 0;
    // Description of parameter index; throws std::logic_error outside 0..param_count() - 1.
    virtual ParamInfo param_info(int index) const = 0;
    virtual std::vector<PoleZeroPair> pole_zeros() const = 0;
    // Complex gain at the frequency f, a fraction of the sample rate.
    virtual complex_t response(double normalized_frequency) const = 0;
    virtual int channel_count() const = 0;
    // Zeroes the state of every channel and restarts its denormal constant; the design stays.
    virtual void reset() = 0;
    // Filters count samples of each of channel_count() channels in place.
    virtual void process(int count, double *const *channels) = 0;
    virtual void process(int count, float *const *channels) = 0;
    // Designs again from the parameter values; the state is kept.
    virtual void apply_params(const Params &params) = 0;

    // Every parameter at its default value.
    Params default_params() const;
};

} // namespace Dsp
