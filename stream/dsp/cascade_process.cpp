#include "stream/dsp/cascade_process.h"

#include "stream/dsp/cascade_kernels.h"

namespace Dsp {

namespace {

using namespace kernels;

// Below this many samples the vector kernel's start and finish cost more than they save.
constexpr int kMinLaneSamples = 64;

template <class Form, class T>
bool run_scalar_kernel(int count, T *samples, const BiquadBase *stages, int num_stages,
                       Form *states, DenormalConstant &denormal) {
    switch (num_stages) {
    case 1:
        run_scalar<Form, 1>(count, samples, stages, states, denormal);
        return true;
    case 2:
        run_scalar<Form, 2>(count, samples, stages, states, denormal);
        return true;
    case 3:
        run_scalar<Form, 3>(count, samples, stages, states, denormal);
        return true;
    case 4:
        run_scalar<Form, 4>(count, samples, stages, states, denormal);
        return true;
    default:
        return false;
    }
}

} // namespace

template <class Form, class T>
void process_cascade(int count, T *samples, const BiquadBase *stages, int num_stages, Form *states,
                     DenormalConstant &denormal) {
    if (count <= 0) return;
    if (num_stages >= 2 && count >= kMinLaneSamples &&
        run_lanes_avx2(count, samples, stages, num_stages, states, denormal))
        return;
    if (run_scalar_kernel(count, samples, stages, num_stages, states, denormal)) return;
    run_reference(count, samples, stages, num_stages, states, denormal);
}

template <class Form, class T>
bool process_cascade_with(Kernel kernel, int count, T *samples, const BiquadBase *stages,
                          int num_stages, Form *states, DenormalConstant &denormal) {
    switch (kernel) {
    case Kernel::automatic:
        process_cascade(count, samples, stages, num_stages, states, denormal);
        return true;
    case Kernel::reference:
        if (count > 0) run_reference(count, samples, stages, num_stages, states, denormal);
        return true;
    case Kernel::scalar:
        return count <= 0 ||
               run_scalar_kernel(count, samples, stages, num_stages, states, denormal);
    case Kernel::lanes_avx2:
        return run_lanes_avx2(count, samples, stages, num_stages, states, denormal);
    }
    return false;
}

#define DSP_INSTANTIATE_CASCADE_PROCESS(Form, T)                                                   \
    template void process_cascade<Form, T>(int, T *, const BiquadBase *, int, Form *,              \
                                           DenormalConstant &);                                    \
    template bool process_cascade_with<Form, T>(Kernel, int, T *, const BiquadBase *, int, Form *, \
                                                DenormalConstant &);
DSP_INSTANTIATE_CASCADE_PROCESS(DirectFormI, double)
DSP_INSTANTIATE_CASCADE_PROCESS(DirectFormI, float)
DSP_INSTANTIATE_CASCADE_PROCESS(DirectFormII, double)
DSP_INSTANTIATE_CASCADE_PROCESS(DirectFormII, float)
DSP_INSTANTIATE_CASCADE_PROCESS(TransposedDirectFormI, double)
DSP_INSTANTIATE_CASCADE_PROCESS(TransposedDirectFormI, float)
DSP_INSTANTIATE_CASCADE_PROCESS(TransposedDirectFormII, double)
DSP_INSTANTIATE_CASCADE_PROCESS(TransposedDirectFormII, float)

} // namespace Dsp
