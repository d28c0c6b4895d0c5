// A parameterised design behind the Filter interface, with the state of its channels.
#pragma once

#include "stream/dsp/cascade.h"
#include "stream/dsp/cascade_state.h"
#include "stream/dsp/filter.h"

#include <array>

namespace Dsp {

// The design-dependent half of Filter. D provides kind(), name(), param_count(),
// param_info(index), pole_zeros(), response(f) and apply_params(params), as
// Butterworth::Design::LowPass does.
template <class D> class FilterDesignBase : public Filter {
  public:
    Kind kind() const override { return D::kind(); }
    std::string name() const override { return D::name(); }
    int param_count() const override { return D::param_count(); }
    ParamInfo param_info(int index) const override { return D::param_info(index); }
    std::vector<PoleZeroPair> pole_zeros() const override { return design_.pole_zeros(); }
    complex_t response(double normalized_frequency) const override {
        return design_.response(normalized_frequency);
    }
    void apply_params(const Params &params) override { design_.apply_params(params); }

    const D &design() const { return design_; }

  protected:
    D design_;
};

// Design D run on Channels channels in state form StateForm. A new filter is designed with the
// default parameters and has zero state.
template <class D, int Channels, class StateForm> class FilterDesign : public FilterDesignBase<D> {
    static_assert(Channels >= 1, "a filter needs a channel");

  public:
    FilterDesign() { this->design_.apply_params(this->default_params()); }

    int channel_count() const override { return Channels; }

    void reset() override {
        for (auto &channel : channels_)
            channel.reset();
    }

    void process(int count, double *const *channels) override { run(count, channels); }
    void process(int count, float *const *channels) override { run(count, channels); }

  private:
    template <class T> void run(int count, T *const *channels) {
        for (int i = 0; i < Channels; ++i)
            channels_[i].process(count, channels[i], stage_span(this->design_));
    }

    std::array<CascadeState<StateForm, D::max_stages>, Channels> channels_{};
};

} // namespace Dsp
