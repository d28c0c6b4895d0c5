// The processor of the filter mode "none": the calibration line only.
#pragma once

#include "stream/calibrate.h"
#include "stream/processing_state.h"
#include "stream/processor.h"

template <typename T> class CalibratedProcessor : public Processor<T> {
  public:
    explicit CalibratedProcessor(const ProcessingState<T> &state) : state_(state) {}

    void process(int32_t count, const uint16_t *raw, T *out) override {
        calibrate(raw, count, state_.calibration_scale, state_.calibration_offset, out);
    }

  private:
    const ProcessingState<T> &state_;
};
