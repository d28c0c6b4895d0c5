// Vector kernel: the stages of a cascade run side by side, one stage per lane of an AVX2
// register, lane k working on the sample a few steps (k * kLag) behind lane 0. A stage's recursion
// then overlaps the others' instead of waiting for them, while each lane still performs
// exactly the scalar arithmetic of its stage. The denormal constant reaches lane 0 only; the
// other lanes add -0.0, which leaves every value, zeros included, unchanged.

// The state forms' steps take and return vectors by value; they are always inlined into the
// AVX2 functions below, so no vector crosses a call and the ABI note does not apply.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

#include "stream/dsp/cascade_kernels.h"

#include <cstdint>
#include <utility>

#if defined(__GNUC__) && !defined(__clang__) && (defined(__x86_64__) || defined(__i386__))
#define DSP_AVX2_LANES 1
#include <immintrin.h>
#endif

namespace Dsp {
namespace kernels {

#ifdef DSP_AVX2_LANES

namespace {

#pragma GCC push_options
#pragma GCC target("avx2")

// Lane 0 takes x0, lane k the previous lane's value from kLag steps ago (0x90 picks lanes
// 0, 0, 1, 2 of y; the blend then puts x0 in lane 0).
DSP_ALWAYS_INLINE __m128d shift_in(__m128d y, double x0) {
    return _mm_unpacklo_pd(_mm_set_sd(x0), y);
}

DSP_ALWAYS_INLINE __m256d shift_in(__m256d y, double x0) {
    return _mm256_blend_pd(_mm256_permute4x64_pd(y, 0x90), _mm256_set1_pd(x0), 1);
}

template <int... J, class F>
DSP_ALWAYS_INLINE void for_each_slot(std::integer_sequence<int, J...>, F &&f) {
    (f(std::integral_constant<int, J>{}), ...);
}

template <class Form, class V, int S, class T>
void run_lanes(int count, T *samples, const BiquadBase *stages, Form *states,
               DenormalConstant &denormal) {
    constexpr int kWidth = sizeof(V) / sizeof(double);
    static_assert(S >= 2 && S <= kWidth, "one stage per lane");
    // Steps by which each lane trails the one before: room for a stage's output to reach the
    // next lane (a slower shuffle across four lanes) without stalling the recursions. Even, so
    // the sign of the denormal constant is fixed per slot.
    constexpr int kLag = kWidth == 2 ? 2 : 4;
    constexpr std::int64_t kPipelineDelay = (S - 1) * kLag;
    using State = typename Form::template State<V>;

    StageCoefficients<V> c{};
    State s{};
    for (int k = 0; k < S; ++k) {
        const StageCoefficients<double> ck = stage_coefficients(stages[k]);
        c.a1[k] = ck.a1;
        c.a2[k] = ck.a2;
        c.b0[k] = ck.b0;
        c.b1[k] = ck.b1;
        c.b2[k] = ck.b2;
        Form::zip(s, states[k], [k](V &lanes, double &value) { lanes[k] = value; });
    }

    V d_even, d_odd, lane_start;
    for (int k = 0; k < kWidth; ++k) {
        d_even[k] = -0.0;
        d_odd[k] = -0.0;
        lane_start[k] = k * kLag;
    }
    d_even[0] = -denormal.value();
    d_odd[0] = denormal.value();
    const V lane_end = lane_start + static_cast<double>(count);

    // Last output of each lane for the slot of steps congruent modulo kLag.
    V y[kLag] = {};
    const std::int64_t n_samples = count;

    // Step n: lane k filters sample n - k * kLag. Steps where some lane has no sample (the
    // pipeline filling or draining) keep that lane's state as it was.
    auto block = [&](std::int64_t n0, auto masked) __attribute__((always_inline)) {
        for_each_slot(
            std::make_integer_sequence<int, kLag>{}, [&](auto slot) __attribute__((always_inline)) {
                const std::int64_t n = n0 + slot;
                const V &d = slot % 2 == 0 ? d_even : d_odd;
                if constexpr (decltype(masked)::value) {
                    const double x0 = n < n_samples ? static_cast<double>(samples[n]) : 0.0;
                    const State before = s;
                    y[slot] = Form::template step<true>(shift_in(y[slot], x0), c, s, d);
                    const V step_index = V{} + static_cast<double>(n);
                    const auto active = (step_index >= lane_start) & (step_index < lane_end);
                    Form::zip(s, before, [&](V &now, const V &was) { now = active ? now : was; });
                    const std::int64_t out = n - kPipelineDelay;
                    if (out >= 0 && out < n_samples) samples[out] = static_cast<T>(y[slot][S - 1]);
                } else {
                    const double x0 = static_cast<double>(samples[n]);
                    y[slot] = Form::template step<true>(shift_in(y[slot], x0), c, s, d);
                    samples[n - kPipelineDelay] = static_cast<T>(y[slot][S - 1]);
                }
            });
    };

    std::int64_t n = 0;
    for (; n < kPipelineDelay; n += kLag)
        block(n, std::true_type{});
    const std::int64_t steady_end =
        n_samples > kPipelineDelay ? kPipelineDelay + (n_samples - kPipelineDelay) / kLag * kLag
                                   : kPipelineDelay;
    for (; n < steady_end; n += kLag)
        block(n, std::false_type{});
    for (; n < n_samples + kPipelineDelay; n += kLag)
        block(n, std::true_type{});

    denormal.skip(count);
    for (int k = 0; k < S; ++k)
        Form::zip(s, states[k], [k](V &lanes, double &value) { value = lanes[k]; });
}

#pragma GCC pop_options

bool cpu_has_avx2() {
    static const bool has_avx2 = [] {
        __builtin_cpu_init(); // may run before the constructors that would do it
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has_avx2;
}

} // namespace

template <class Form, class T>
bool run_lanes_avx2(int count, T *samples, const BiquadBase *stages, int num_stages, Form *states,
                    DenormalConstant &denormal) {
    if (num_stages < 2 || num_stages > kMaxFastStages || !cpu_has_avx2()) return false;
    if (count <= 0) return true;
    switch (num_stages) {
    case 2:
        run_lanes<Form, __m128d, 2>(count, samples, stages, states, denormal);
        break;
    case 3:
        run_lanes<Form, __m256d, 3>(count, samples, stages, states, denormal);
        break;
    default:
        run_lanes<Form, __m256d, 4>(count, samples, stages, states, denormal);
        break;
    }
    return true;
}

#else

template <class Form, class T>
bool run_lanes_avx2(int, T *, const BiquadBase *, int, Form *, DenormalConstant &) {
    return false;
}

#endif

#define DSP_INSTANTIATE_LANES(Form, T)                                                             \
    template bool run_lanes_avx2(int, T *, const BiquadBase *, int, Form *, DenormalConstant &);
DSP_INSTANTIATE_LANES(DirectFormI, double)
DSP_INSTANTIATE_LANES(DirectFormI, float)
DSP_INSTANTIATE_LANES(DirectFormII, double)
DSP_INSTANTIATE_LANES(DirectFormII, float)
DSP_INSTANTIATE_LANES(TransposedDirectFormI, double)
DSP_INSTANTIATE_LANES(TransposedDirectFormI, float)
DSP_INSTANTIATE_LANES(TransposedDirectFormII, double)
DSP_INSTANTIATE_LANES(TransposedDirectFormII, float)

} // namespace kernels
} // namespace Dsp
