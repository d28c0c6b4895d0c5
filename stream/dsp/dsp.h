// The Dsp filter library: low-pass designs, their cascades and the filters that run them.
#pragma once

#include "stream/dsp/butterworth.h"
#include "stream/dsp/butterworth_design.h"
#include "stream/dsp/chebyshev_i.h"
#include "stream/dsp/filter_design.h"
#include "stream/dsp/rbj.h"
#include "stream/dsp/simple_filter.h"
#include "stream/dsp/state_forms.h"
