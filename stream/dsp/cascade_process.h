// Running samples through a cascade of stages in one of the state forms.
//
// Every kernel performs, for each sample and stage, exactly the arithmetic of the form's step
// in the same order, so all kernels give bit-identical results; they differ only in speed.
#pragma once

#include "stream/dsp/biquad.h"
#include "stream/dsp/denormal.h"
#include "stream/dsp/state_forms.h"

namespace Dsp {

enum class Kernel {
    automatic,  // the fastest one this processor and stage count allow
    reference,  // the plain loop: sample after sample, stage after stage
    scalar,     // state in registers, two samples per step; up to 4 stages
    lanes_avx2, // one stage per vector lane, each lane a few samples behind; 2 to 4 stages
};

// Both are provided for the four forms of state_forms.h with double and float samples.

// Filters count samples in place through num_stages stages whose per-stage state is
// states[0 .. num_stages). Samples are widened to double, filtered, and narrowed back.
template <class Form, class T>
void process_cascade(int count, T *samples, const BiquadBase *stages, int num_stages, Form *states,
                     DenormalConstant &denormal);

// The same with a chosen kernel. Returns false, and leaves everything untouched, when that
// kernel cannot run here (stage count out of its range, or the processor lacks AVX2).
template <class Form, class T>
bool process_cascade_with(Kernel kernel, int count, T *samples, const BiquadBase *stages,
                          int num_stages, Form *states, DenormalConstant &denormal);

} // namespace Dsp
