#include "stream/dsp/filter.h"

namespace Dsp {

Filter::~Filter() = default;

Params Filter::default_params() const {
    Params params{};
    for (int i = 0; i < param_count() && i < kMaxParams; ++i)
        params[i] = param_info(i).default_value;
    return params;
}

} // namespace Dsp
