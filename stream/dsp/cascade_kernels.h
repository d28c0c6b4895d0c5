// Kernels behind process_cascade (internal to the dsp library).
#pragma once

#include "stream/dsp/cascade_process.h"

namespace Dsp {
namespace kernels {

// Widest cascade the scalar and vector kernels are built for.
constexpr int kMaxFastStages = 4;

// The plain loop: every sample through every stage, the state read and written in place.
template <class Form, class T>
void run_reference(int count, T *samples, const BiquadBase *stages, int num_stages, Form *states,
                   DenormalConstant &denormal) {
    for (int i = 0; i < count; ++i) {
        const double d = denormal.next();
        double v = samples[i];
        if (num_stages > 0)
            v = Form::template step<true>(v, stage_coefficients(stages[0]), states[0], d);
        for (int k = 1; k < num_stages; ++k)
            v = Form::template step<false>(v, stage_coefficients(stages[k]), states[k], d);
        samples[i] = static_cast<T>(v);
    }
}

// Coefficients and state of S stages in locals (so in registers), two samples per iteration
// so the sign of the denormal constant is known at each step.
template <class Form, int S, class T>
void run_scalar(int count, T *samples, const BiquadBase *stages, Form *states,
                DenormalConstant &denormal) {
    using State = typename Form::template State<double>;
    StageCoefficients<double> c[S];
    State s[S];
    for (int k = 0; k < S; ++k) {
        c[k] = stage_coefficients(stages[k]);
        s[k] = states[k];
    }
    auto one_sample = [&](T &sample, double d) {
        double v = Form::template step<true>(static_cast<double>(sample), c[0], s[0], d);
        for (int k = 1; k < S; ++k)
            v = Form::template step<false>(v, c[k], s[k], d);
        sample = static_cast<T>(v);
    };
    const double d_even = -denormal.value();
    const double d_odd = denormal.value();
    int i = 0;
    for (; i + 1 < count; i += 2) {
        one_sample(samples[i], d_even);
        one_sample(samples[i + 1], d_odd);
    }
    if (i < count) one_sample(samples[i], d_even);
    denormal.skip(count);
    for (int k = 0; k < S; ++k)
        static_cast<State &>(states[k]) = s[k];
}

// One stage per lane of an AVX2 vector (defined in cascade_lanes_avx2.cpp). Returns false
// when num_stages is outside 2..kMaxFastStages or the processor lacks AVX2.
template <class Form, class T>
bool run_lanes_avx2(int count, T *samples, const BiquadBase *stages, int num_stages, Form *states,
                    DenormalConstant &denormal);

} // namespace kernels
} // namespace Dsp
