// The four state forms a cascade can run in, each with its per-stage state and its per-sample
// arithmetic. The arithmetic is written once for any value type V with +, - and * (a double, or
// a vector of doubles holding one stage per lane in the fast kernels), operation by operation
// in a fixed order so that every kernel gives the same bits.
#pragma once

#include "stream/dsp/biquad.h"

#if defined(__GNUC__)
#define DSP_ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define DSP_ALWAYS_INLINE inline
#endif

namespace Dsp {

// The coefficients one stage's arithmetic reads (a0 is already divided out).
template <class V> struct StageCoefficients { V a1, a2, b0, b1, b2; };

inline StageCoefficients<double> stage_coefficients(const BiquadBase &s) {
    return {s.a1(), s.a2(), s.b0(), s.b1(), s.b2()};
}

// What every form shares: its state fields as doubles, zero when made and after reset(), and
// State<V>, the same fields over another value type, for the kernels.
template <template <class> class StateOf> struct StateFormBase : StateOf<double> {
    template <class V> using State = StateOf<V>;

    StateFormBase() : StateOf<double>{} {}
    void reset() { static_cast<StateOf<double> &>(*this) = StateOf<double>{}; }
};

// y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2 (+ d in the first stage).
template <class V> struct DirectFormIState { V x2, y2, x1, y1; };

struct DirectFormI : StateFormBase<DirectFormIState> {
    template <bool AddDenormal, class V>
    static DSP_ALWAYS_INLINE V step(const V &x, const StageCoefficients<V> &c, State<V> &s,
                                    const V &d) {
        V y = c.b0 * x + c.b1 * s.x1 + c.b2 * s.x2 - c.a1 * s.y1 - c.a2 * s.y2;
        if constexpr (AddDenormal) y = y + d;
        s.x2 = s.x1;
        s.x1 = x;
        s.y2 = s.y1;
        s.y1 = y;
        return y;
    }

    // Calls f on each pair of corresponding state fields of a and b.
    template <class A, class B, class F> static DSP_ALWAYS_INLINE void zip(A &a, B &b, F f) {
        f(a.x2, b.x2);
        f(a.y2, b.y2);
        f(a.x1, b.x1);
        f(a.y1, b.y1);
    }
};

// u = x - a1 w1 - a2 w2 (+ d in the first stage); y = b0 u + b1 w1 + b2 w2.
template <class V> struct DirectFormIIState { V w1, w2; };

struct DirectFormII : StateFormBase<DirectFormIIState> {
    template <bool AddDenormal, class V>
    static DSP_ALWAYS_INLINE V step(const V &x, const StageCoefficients<V> &c, State<V> &s,
                                    const V &d) {
        V u = x - c.a1 * s.w1 - c.a2 * s.w2;
        if constexpr (AddDenormal) u = u + d;
        const V y = c.b0 * u + c.b1 * s.w1 + c.b2 * s.w2;
        s.w2 = s.w1;
        s.w1 = u;
        return y;
    }

    template <class A, class B, class F> static DSP_ALWAYS_INLINE void zip(A &a, B &b, F f) {
        f(a.w1, b.w1);
        f(a.w2, b.w2);
    }
};

// v = x + s1_1; y = b0 v + s3_1; the poles run on v, the zeros on the delayed v. The denormal
// constant is not added in this form. s1..s4 repeat the new values of s1_1..s4_1.
template <class V> struct TransposedDirectFormIState {
    V v, s1, s1_1, s2, s2_1, s3, s3_1, s4, s4_1;
};

struct TransposedDirectFormI : StateFormBase<TransposedDirectFormIState> {
    template <bool AddDenormal, class V>
    static DSP_ALWAYS_INLINE V step(const V &x, const StageCoefficients<V> &c, State<V> &s,
                                    const V &) {
        const V v = x + s.s1_1;
        const V y = c.b0 * v + s.s3_1;
        s.v = v;
        s.s1_1 = s.s2_1 - c.a1 * v;
        s.s2_1 = -c.a2 * v;
        s.s3_1 = c.b1 * v + s.s4_1;
        s.s4_1 = c.b2 * v;
        s.s1 = s.s1_1;
        s.s2 = s.s2_1;
        s.s3 = s.s3_1;
        s.s4 = s.s4_1;
        return y;
    }

    template <class A, class B, class F> static DSP_ALWAYS_INLINE void zip(A &a, B &b, F f) {
        f(a.v, b.v);
        f(a.s1, b.s1);
        f(a.s1_1, b.s1_1);
        f(a.s2, b.s2);
        f(a.s2_1, b.s2_1);
        f(a.s3, b.s3);
        f(a.s3_1, b.s3_1);
        f(a.s4, b.s4);
        f(a.s4_1, b.s4_1);
    }
};

// y = b0 x + s1_1 (+ d in the first stage); s1_1 = b1 x - a1 y + s2_1; s2_1 = b2 x - a2 y.
template <class V> struct TransposedDirectFormIIState { V s1, s1_1, s2, s2_1; };

struct TransposedDirectFormII : StateFormBase<TransposedDirectFormIIState> {
    template <bool AddDenormal, class V>
    static DSP_ALWAYS_INLINE V step(const V &x, const StageCoefficients<V> &c, State<V> &s,
                                    const V &d) {
        V y = c.b0 * x + s.s1_1;
        if constexpr (AddDenormal) y = y + d;
        s.s1_1 = c.b1 * x - c.a1 * y + s.s2_1;
        s.s2_1 = c.b2 * x - c.a2 * y;
        s.s1 = s.s1_1;
        s.s2 = s.s2_1;
        return y;
    }

    template <class A, class B, class F> static DSP_ALWAYS_INLINE void zip(A &a, B &b, F f) {
        f(a.s1, b.s1);
        f(a.s1_1, b.s1_1);
        f(a.s2, b.s2);
        f(a.s2_1, b.s2_1);
    }
};

} // namespace Dsp
