// Filters designed from poles and zeros: an analog prototype, its digital transform, and the
// cascade of stages built from the transform.
#pragma once

#include "stream/dsp/cascade.h"

#include <vector>

namespace Dsp {

// Holds the digital pole/zero set the stages come from.
class PoleFilterBase2 : public Cascade {
  public:
    // The digital pairs of the last design.
    std::vector<PoleZeroPair> pole_zeros() const;

  protected:
    PoleZeroSet digital_;
};

// Adds the analog prototype the digital set is transformed from.
template <class AnalogPrototype> class PoleFilterBase : public PoleFilterBase2 {
  protected:
    AnalogPrototype analog_proto_;
};

// A design (BaseClass, such as Butterworth::LowPassBase) with stage room for MaxDigitalPoles.
// Copies point at their own stages.
template <class BaseClass, int MaxAnalogPoles, int MaxDigitalPoles = MaxAnalogPoles>
class PoleFilter : public BaseClass, private CascadeStages<(MaxDigitalPoles + 1) / 2> {
    static_assert(MaxAnalogPoles >= 1 && MaxAnalogPoles <= kMaxPoles, "unsupported order");
    static_assert(MaxDigitalPoles >= 1 && MaxDigitalPoles <= kMaxPoles, "unsupported order");
    using Storage = CascadeStages<(MaxDigitalPoles + 1) / 2>;

  public:
    static constexpr int max_order = MaxAnalogPoles;
    static constexpr int max_stages = (MaxDigitalPoles + 1) / 2;

    PoleFilter() { bind_storage(); }
    PoleFilter(const PoleFilter &other) : BaseClass(other), Storage(other) { bind_storage(); }
    PoleFilter &operator=(const PoleFilter &other) {
        BaseClass::operator=(other);
        Storage::operator=(other);
        bind_storage();
        return *this;
    }

  protected:
    // Keeps a requested order within what the storage holds.
    static int clamp_order(int order) {
        return order < 0 ? 0 : (order > MaxAnalogPoles ? MaxAnalogPoles : order);
    }

  private:
    void bind_storage() { this->set_stage_storage(this->stage_storage, max_stages); }
};

} // namespace Dsp
