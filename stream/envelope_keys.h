// Order keys of the envelope: each sample type maps to an integer whose signed order is the
// samples' total order, so the extremes of a column are found with integer min and max, which
// give the same result however the comparisons are grouped (lanes, unrolling, tails).
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>

namespace zv {
namespace envelope_keys {

// A float's bits with the magnitude bits flipped when its sign is set: signed comparison of the
// results follows -NaN < -inf < ... < -0.0 < +0.0 < ... < +inf < +NaN. The map is its own inverse.
template <typename Bits> constexpr Bits flip_negative(Bits bits) {
    return bits ^
           static_cast<Bits>((bits >> (8 * sizeof(Bits) - 1)) & std::numeric_limits<Bits>::max());
}

template <typename T> struct Keys;

template <> struct Keys<uint16_t> {
    using Key = uint16_t;
    static Key key(uint16_t x) { return x; }
    static uint16_t value(Key k) { return k; }
    // A column's extremes need no correction: every code is a number.
    static void finish(Key lo, Key hi, uint16_t &min, uint16_t &max) {
        min = lo;
        max = hi;
    }
};

template <typename T, typename Bits> struct FloatKeys {
    using Key = Bits;
    static Key key(T x) {
        Bits bits;
        std::memcpy(&bits, &x, sizeof bits);
        return flip_negative(bits);
    }
    static T value(Key k) {
        const Bits bits = flip_negative(k);
        T x;
        std::memcpy(&x, &bits, sizeof x);
        return x;
    }
    // A NaN anywhere in the column is its minimum or maximum key (by its sign); the column then
    // reports that NaN at both ends, positive first.
    static void finish(Key lo, Key hi, T &min, T &max) {
        static const Key above = key(std::numeric_limits<T>::infinity());
        static const Key below = key(-std::numeric_limits<T>::infinity());
        if (hi > above)
            lo = hi;
        else if (lo < below)
            hi = lo;
        min = value(lo);
        max = value(hi);
    }
};

template <> struct Keys<float> : FloatKeys<float, int32_t> {};
template <> struct Keys<double> : FloatKeys<double, int64_t> {};

// The vector kernels (envelope_avx2.cpp): lo and hi take the smallest and largest key of
// samples[0, count) and of their values on entry. Only to be called when cpu_has_avx2().
void reduce_avx2(const uint16_t *samples, uint64_t count, uint16_t &lo, uint16_t &hi);
void reduce_avx2(const float *samples, uint64_t count, int32_t &lo, int32_t &hi);
void reduce_avx2(const double *samples, uint64_t count, int64_t &lo, int64_t &hi);

// The portable kernel, also the vector kernels' tail. The extremes are kept in locals: through
// the references the compiler would have to store them at every sample (they may alias samples).
template <typename T>
inline void reduce_portable(const T *samples, uint64_t count, typename Keys<T>::Key &lo,
                            typename Keys<T>::Key &hi) {
    typename Keys<T>::Key low = lo, high = hi;
    for (uint64_t i = 0; i < count; ++i) {
        const typename Keys<T>::Key k = Keys<T>::key(samples[i]);
        low = k < low ? k : low;
        high = k > high ? k : high;
    }
    lo = low;
    hi = high;
}

} // namespace envelope_keys
} // namespace zv
