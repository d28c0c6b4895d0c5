#include "stream/envelope.h"

#include "c_boundary.h"
#include "errors.h"
#include "libzv.h"
#include "stream/calibrate.h"
#include "stream/envelope_keys.h"

namespace zv {
namespace {

using envelope_keys::Keys;

template <typename T>
using Reducer = void (*)(const T *, uint64_t, typename Keys<T>::Key &, typename Keys<T>::Key &);

template <typename T> Reducer<T> reducer(EnvelopePath path) {
    const bool vector =
        path == EnvelopePath::avx2 || (path == EnvelopePath::automatic && cpu_has_avx2());
    const Reducer<T> avx2 = &envelope_keys::reduce_avx2; // the overload for T
    return vector ? avx2 : &envelope_keys::reduce_portable<T>;
}

} // namespace

template <typename T>
void envelope(const T *samples, uint64_t n, uint64_t columns, T *mins, T *maxs, EnvelopePath path) {
    using Key = typename Keys<T>::Key;
    const Reducer<T> reduce = reducer<T>(path);
    // Column c holds samples [ceil(c n / N), ceil((c + 1) n / N)). With c n / N = c base + c rem
    // / N, the fractional part is carried as a remainder below N, so nothing overflows.
    const uint64_t base = n / columns;
    const uint64_t rem = n % columns;
    uint64_t whole = 0;    // floor(c rem / N)
    uint64_t fraction = 0; // (c rem) mod N
    uint64_t start = 0;    // ceil(c n / N), the first sample of column c
    for (uint64_t c = 0; c < columns; ++c) {
        fraction += rem;
        if (fraction >= columns) {
            fraction -= columns;
            ++whole;
        }
        const uint64_t end = (c + 1) * base + whole + (fraction != 0);
        if (end == start) {
            // No sample falls here: the sample before (there is one, column 0 holds sample 0)
            // is still the trace's value.
            mins[c] = maxs[c] = samples[start - 1];
            continue;
        }
        Key lo = std::numeric_limits<Key>::max();
        Key hi = std::numeric_limits<Key>::min();
        reduce(samples + start, end - start, lo, hi);
        Keys<T>::finish(lo, hi, mins[c], maxs[c]);
        start = end;
    }
}

template void envelope<uint16_t>(const uint16_t *, uint64_t, uint64_t, uint16_t *, uint16_t *,
                                 EnvelopePath);
template void envelope<float>(const float *, uint64_t, uint64_t, float *, float *, EnvelopePath);
template void envelope<double>(const double *, uint64_t, uint64_t, double *, double *,
                               EnvelopePath);

} // namespace zv

namespace {

template <typename T>
int envelope_c(const T *samples, uint64_t n, uint64_t columns, T *mins, T *maxs) {
    if (!samples || !mins || !maxs || n == 0 || columns == 0)
        return zv::set_error(zv::Error::invalid_parameters);
    return zv::c_status([&] {
        zv::envelope(samples, n, columns, mins, maxs);
        return 0;
    });
}

} // namespace

extern "C" {

int zv_envelope_uint16(const uint16_t *samples, uint64_t n, uint64_t columns, uint16_t *mins,
                       uint16_t *maxs) {
    return envelope_c(samples, n, columns, mins, maxs);
}

int zv_envelope_float(const float *samples, uint64_t n, uint64_t columns, float *mins,
                      float *maxs) {
    return envelope_c(samples, n, columns, mins, maxs);
}

int zv_envelope_double(const double *samples, uint64_t n, uint64_t columns, double *mins,
                       double *maxs) {
    return envelope_c(samples, n, columns, mins, maxs);
}

} // extern "C"
