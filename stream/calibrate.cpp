#include "stream/calibrate.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZV_CALIBRATE_X86 1
#endif

template <typename T>
void calibrate_portable(const uint16_t *raw, int32_t count, T scale, T offset, T *out) {
    for (int32_t i = 0; i < count; ++i)
        out[i] = static_cast<T>(raw[i] & kAdcCodeMask) * scale + offset;
}

#ifdef ZV_CALIBRATE_X86

bool cpu_has_avx2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

namespace {

// The codes of eight raw words, port bits cleared, as 32-bit integers.
__attribute__((target("avx2"))) inline __m256i load_codes8(const uint16_t *raw) {
    const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i *>(raw));
    return _mm256_and_si256(_mm256_cvtepu16_epi32(words), _mm256_set1_epi32(kAdcCodeMask));
}

} // namespace

__attribute__((target("avx2"))) void calibrate_avx2(const uint16_t *raw, int32_t count, float scale,
                                                    float offset, float *out) {
    const __m256 s = _mm256_set1_ps(scale);
    const __m256 o = _mm256_set1_ps(offset);
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256 a = _mm256_cvtepi32_ps(load_codes8(raw + i));
        const __m256 b = _mm256_cvtepi32_ps(load_codes8(raw + i + 8));
        _mm256_storeu_ps(out + i, _mm256_add_ps(_mm256_mul_ps(a, s), o));
        _mm256_storeu_ps(out + i + 8, _mm256_add_ps(_mm256_mul_ps(b, s), o));
    }
    calibrate_portable(raw + i, count - i, scale, offset, out + i);
}

__attribute__((target("avx2"))) void calibrate_avx2(const uint16_t *raw, int32_t count,
                                                    double scale, double offset, double *out) {
    const __m256d s = _mm256_set1_pd(scale);
    const __m256d o = _mm256_set1_pd(offset);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i codes = load_codes8(raw + i);
        const __m256d a = _mm256_cvtepi32_pd(_mm256_castsi256_si128(codes));
        const __m256d b = _mm256_cvtepi32_pd(_mm256_extracti128_si256(codes, 1));
        _mm256_storeu_pd(out + i, _mm256_add_pd(_mm256_mul_pd(a, s), o));
        _mm256_storeu_pd(out + i + 4, _mm256_add_pd(_mm256_mul_pd(b, s), o));
    }
    calibrate_portable(raw + i, count - i, scale, offset, out + i);
}

#else

bool cpu_has_avx2() {
    return false;
}

void calibrate_avx2(const uint16_t *raw, int32_t count, float scale, float offset, float *out) {
    calibrate_portable(raw, count, scale, offset, out);
}

void calibrate_avx2(const uint16_t *raw, int32_t count, double scale, double offset, double *out) {
    calibrate_portable(raw, count, scale, offset, out);
}

#endif

template <typename T>
void calibrate(const uint16_t *raw, int32_t count, T scale, T offset, T *out) {
    if (cpu_has_avx2())
        calibrate_avx2(raw, count, scale, offset, out);
    else
        calibrate_portable(raw, count, scale, offset, out);
}

template void calibrate<float>(const uint16_t *, int32_t, float, float, float *);
template void calibrate<double>(const uint16_t *, int32_t, double, double, double *);
template void calibrate_portable<float>(const uint16_t *, int32_t, float, float, float *);
template void calibrate_portable<double>(const uint16_t *, int32_t, double, double, double *);
