// A series of biquad stages designed from a digital pole/zero set.
#pragma once

#include "stream/dsp/biquad.h"

namespace Dsp {

// Stages in use and where they are stored. The storage belongs to a derived class, which
// points the cascade at it (see CascadeStages and PoleFilter).
class Cascade {
  public:
    int num_stages() const { return num_stages_; }
    const BiquadBase *stages() const { return stages_; }
    const BiquadBase &stage(int index) const { return stages_[index]; }

    // Complex gain at the frequency f, a fraction of the sample rate.
    complex_t response(double normalized_frequency) const;

  protected:
    // One stage per pair of the set (as many as there is room for), then the numerator of the
    // first stage scaled so the gain at the set's normal frequency is its normal gain.
    void set_layout(const PoleZeroSet &digital);

    Cascade() = default;
    Cascade(const Cascade &) = default;
    Cascade &operator=(const Cascade &) = default;
    ~Cascade() = default;

    // Called by the owner of the storage, also after a copy; keeps the stage count in range.
    void set_stage_storage(BiquadBase *stages, int max_stages);

  private:
    int num_stages_ = 0;
    BiquadBase *stages_ = nullptr;
    int max_stages_ = 0;
};

inline StageSpan stage_span(const Cascade &cascade) {
    return {cascade.stages(), cascade.num_stages()};
}

// Room for MaxStages stages.
template <int MaxStages> struct CascadeStages {
    static_assert(MaxStages >= 1, "a cascade needs room for a stage");
    BiquadBase stage_storage[MaxStages];
};

} // namespace Dsp
