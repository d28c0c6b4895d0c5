// The running state of one channel through a cascade: per-stage state and denormal constant.
#pragma once

#include "stream/dsp/cascade_process.h"

#include <algorithm>
#include <array>

namespace Dsp {

template <class Form, int MaxStages> class CascadeState {
  public:
    // Zero state, and the denormal constant back at its first value, as when constructed.
    void reset() {
        for (Form &form : forms_)
            form.reset();
        denormal_.reset();
    }

    // Filters count samples in place through the stages (at most MaxStages of them).
    template <class T> void process(int count, T *samples, StageSpan stages) {
        process_cascade(count, samples, stages.stages, std::clamp(stages.count, 0, MaxStages),
                        forms_.data(), denormal_);
    }

    const Form &stage_state(int index) const { return forms_[index]; }
    const DenormalConstant &denormal() const { return denormal_; }

  private:
    std::array<Form, MaxStages> forms_{};
    DenormalConstant denormal_;
};

} // namespace Dsp
