#include "stream/dsp/chebyshev_i.h"

#include "stream/dsp/low_pass_transform.h"

namespace Dsp {
namespace ChebyshevI {

void LowPassBase::setup(int order, double sample_rate, double cutoff_frequency, double ripple_db) {
    analog_proto_.design(order, ripple_db);
    low_pass_transform(cutoff_frequency / sample_rate, digital_, analog_proto_);
    set_layout(digital_);
}

} // namespace ChebyshevI
} // namespace Dsp
