// The envelope's vector kernels: order keys of 16 codes, 8 floats or 4 doubles per 256-bit vector,
// four vectors per step into two pairs of running extremes, so that loads and comparisons overlap.
// The keys make the result independent of the grouping: the lanes give the portable loop's bits.
#include "stream/envelope_keys.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZV_ENVELOPE_X86 1
#endif

namespace zv {
namespace envelope_keys {

#ifdef ZV_ENVELOPE_X86

#define ZV_AVX2 __attribute__((target("avx2")))

namespace {

struct CodeLanes {
    using Sample = uint16_t;
    using Key = uint16_t;
    static constexpr int kWidth = 16;
    static ZV_AVX2 __m256i load(const uint16_t *p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    }
    static ZV_AVX2 __m256i splat(Key k) { return _mm256_set1_epi16(static_cast<short>(k)); }
    static ZV_AVX2 __m256i min(__m256i a, __m256i b) { return _mm256_min_epu16(a, b); }
    static ZV_AVX2 __m256i max(__m256i a, __m256i b) { return _mm256_max_epu16(a, b); }
};

struct FloatLanes {
    using Sample = float;
    using Key = int32_t;
    static constexpr int kWidth = 8;
    static ZV_AVX2 __m256i load(const float *p) {
        const __m256i bits = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        const __m256i sign = _mm256_srai_epi32(bits, 31);
        return _mm256_xor_si256(bits, _mm256_and_si256(sign, _mm256_set1_epi32(0x7FFFFFFF)));
    }
    static ZV_AVX2 __m256i splat(Key k) { return _mm256_set1_epi32(k); }
    static ZV_AVX2 __m256i min(__m256i a, __m256i b) { return _mm256_min_epi32(a, b); }
    static ZV_AVX2 __m256i max(__m256i a, __m256i b) { return _mm256_max_epi32(a, b); }
};

struct DoubleLanes {
    using Sample = double;
    using Key = int64_t;
    static constexpr int kWidth = 4;
    static ZV_AVX2 __m256i load(const double *p) {
        const __m256i bits = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        // No 64-bit arithmetic shift in AVX2: the sign comes from a comparison with zero.
        const __m256i sign = _mm256_cmpgt_epi64(_mm256_setzero_si256(), bits);
        return _mm256_xor_si256(
            bits, _mm256_and_si256(sign, _mm256_set1_epi64x(INT64_C(0x7FFFFFFFFFFFFFFF))));
    }
    static ZV_AVX2 __m256i splat(Key k) { return _mm256_set1_epi64x(k); }
    static ZV_AVX2 __m256i min(__m256i a, __m256i b) {
        return _mm256_blendv_epi8(a, b, _mm256_cmpgt_epi64(a, b));
    }
    static ZV_AVX2 __m256i max(__m256i a, __m256i b) {
        return _mm256_blendv_epi8(b, a, _mm256_cmpgt_epi64(a, b));
    }
};

template <class L>
ZV_AVX2 void reduce_lanes(const typename L::Sample *samples, uint64_t count, typename L::Key &lo,
                          typename L::Key &hi) {
    using Key = typename L::Key;
    constexpr uint64_t W = L::kWidth;
    uint64_t i = 0;
    if (count >= W) {
        __m256i lo0 = L::splat(lo), lo1 = lo0;
        __m256i hi0 = L::splat(hi), hi1 = hi0;
        for (; i + 4 * W <= count; i += 4 * W) {
            const __m256i a = L::load(samples + i);
            const __m256i b = L::load(samples + i + W);
            const __m256i c = L::load(samples + i + 2 * W);
            const __m256i d = L::load(samples + i + 3 * W);
            lo0 = L::min(lo0, L::min(a, b));
            lo1 = L::min(lo1, L::min(c, d));
            hi0 = L::max(hi0, L::max(a, b));
            hi1 = L::max(hi1, L::max(c, d));
        }
        for (; i + W <= count; i += W) {
            const __m256i a = L::load(samples + i);
            lo0 = L::min(lo0, a);
            hi0 = L::max(hi0, a);
        }
        alignas(32) Key lows[W];
        alignas(32) Key highs[W];
        _mm256_store_si256(reinterpret_cast<__m256i *>(lows), L::min(lo0, lo1));
        _mm256_store_si256(reinterpret_cast<__m256i *>(highs), L::max(hi0, hi1));
        Key low = lo, high = hi;
        for (uint64_t k = 0; k < W; ++k) {
            low = lows[k] < low ? lows[k] : low;
            high = highs[k] > high ? highs[k] : high;
        }
        lo = low;
        hi = high;
    }
    reduce_portable(samples + i, count - i, lo, hi);
}

} // namespace

void reduce_avx2(const uint16_t *samples, uint64_t count, uint16_t &lo, uint16_t &hi) {
    reduce_lanes<CodeLanes>(samples, count, lo, hi);
}

void reduce_avx2(const float *samples, uint64_t count, int32_t &lo, int32_t &hi) {
    reduce_lanes<FloatLanes>(samples, count, lo, hi);
}

void reduce_avx2(const double *samples, uint64_t count, int64_t &lo, int64_t &hi) {
    reduce_lanes<DoubleLanes>(samples, count, lo, hi);
}

#else

void reduce_avx2(const uint16_t *samples, uint64_t count, uint16_t &lo, uint16_t &hi) {
    reduce_portable(samples, count, lo, hi);
}

void reduce_avx2(const float *samples, uint64_t count, int32_t &lo, int32_t &hi) {
    reduce_portable(samples, count, lo, hi);
}

void reduce_avx2(const double *samples, uint64_t count, int64_t &lo, int64_t &hi) {
    reduce_portable(samples, count, lo, hi);
}

#endif

} // namespace envelope_keys
} // namespace zv
