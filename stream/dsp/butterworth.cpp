#include "stream/dsp/butterworth.h"

#include "stream/dsp/low_pass_transform.h"

namespace Dsp {
namespace Butterworth {

void LowPassBase::setup(int order, double sample_rate, double cutoff_frequency) {
    analog_proto_.design(order);
    low_pass_transform(cutoff_frequency / sample_rate, digital_, analog_proto_);
    set_layout(digital_);
}

} // namespace Butterworth
} // namespace Dsp
