// A filter design together with the running state of its channels.
#pragma once

#include "stream/dsp/cascade.h"
#include "stream/dsp/cascade_state.h"

#include <type_traits>

namespace Dsp {

// Design D (a Cascade such as Butterworth::LowPass<4>, or one BiquadBase such as RBJ::LowPass)
// run on Channels channels in state form StateForm. Designing again keeps the state.
template <class D, int Channels, class StateForm> class SimpleFilter : public D {
    static_assert(Channels >= 1, "a filter needs a channel");

  public:
    static constexpr int channel_count() { return Channels; }

    // Zeroes the state of every channel and restarts its denormal constant.
    void reset() {
        for (auto &channel : channels_)
            channel.reset();
    }

    // Filters count samples of each channel in place; float samples are widened to double,
    // filtered and narrowed back.
    template <class T> void process(int count, T *const *channels) {
        static_assert(std::is_same_v<T, double> || std::is_same_v<T, float>,
                      "samples are double or float");
        for (int i = 0; i < Channels; ++i)
            channels_[i].process(count, channels[i], stage_span(*this));
    }

    // Per-stage state of one channel (for inspection).
    const CascadeState<StateForm, D::max_stages> &channel_state(int channel) const {
        return channels_[channel];
    }

  private:
    std::array<CascadeState<StateForm, D::max_stages>, Channels> channels_{};
};

} // namespace Dsp
