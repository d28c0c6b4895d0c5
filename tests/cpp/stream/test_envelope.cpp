#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "libzv.h"
#include "stream/calibrate.h"
#include "stream/envelope.h"
#include "stream/envelope_keys.h"

namespace {

template <typename T> class Envelope : public ::testing::Test {};
using SampleTypes = ::testing::Types<uint16_t, float, double>;
TYPED_TEST_SUITE(Envelope, SampleTypes);

// Noise with the values a total order must place: both zeros, both infinities, NaNs of both signs
// (floats), the extreme codes (uint16), each a few times at random places.
template <typename T> std::vector<T> awkward_samples(size_t n, std::mt19937 &rng) {
    std::vector<T> x(n);
    std::uniform_int_distribution<int> code(0, 0xFFFF);
    std::normal_distribution<double> noise(0.0, 1e3);
    for (T &v : x)
        v = std::is_integral<T>::value ? static_cast<T>(code(rng)) : static_cast<T>(noise(rng));
    std::vector<T> specials;
    if (std::is_integral<T>::value) {
        specials = {T(0), T(0xFFFF)};
    } else {
        const T inf = std::numeric_limits<T>::infinity();
        const T nan = std::numeric_limits<T>::quiet_NaN();
        specials = {T(0.0), T(-0.0), inf, -inf, nan, -nan};
    }
    std::uniform_int_distribution<size_t> where(0, n - 1);
    for (int k = 0; k < (n > 64 ? 3 : 1); ++k)
        for (T special : specials)
            if (rng() % 4 == 0) x[where(rng)] = special;
    return x;
}

// The definition, one sample at a time: sample i joins column i * N / n; a column that gets no
// sample shows the sample in force at its start, sample c * n / N.
template <typename T>
void reference_envelope(const T *x, uint64_t n, uint64_t columns, std::vector<T> &mins,
                        std::vector<T> &maxs) {
    using K = zv::envelope_keys::Keys<T>;
    using Key = typename K::Key;
    std::vector<Key> lo(columns, std::numeric_limits<Key>::max());
    std::vector<Key> hi(columns, std::numeric_limits<Key>::min());
    std::vector<bool> filled(columns, false);
    for (uint64_t i = 0; i < n; ++i) {
        const auto c = static_cast<uint64_t>(static_cast<unsigned __int128>(i) * columns / n);
        lo[c] = std::min(lo[c], K::key(x[i]));
        hi[c] = std::max(hi[c], K::key(x[i]));
        filled[c] = true;
    }
    mins.assign(columns, T());
    maxs.assign(columns, T());
    for (uint64_t c = 0; c < columns; ++c) {
        if (!filled[c]) {
            mins[c] = maxs[c] = x[static_cast<unsigned __int128>(c) * n / columns];
            continue;
        }
        K::finish(lo[c], hi[c], mins[c], maxs[c]);
    }
}

template <typename T> bool same_bits(const std::vector<T> &a, const std::vector<T> &b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

} // namespace

// Every path against the per-sample definition, bit for bit, over lengths that leave every kind of
// vector tail, columns from one to more than the samples, and starts off the vector alignment.
TYPED_TEST(Envelope, EveryPathGivesTheBitsOfTheDefinition) {
    using T = TypeParam;
    std::mt19937 rng(7);
    std::vector<zv::EnvelopePath> paths = {zv::EnvelopePath::portable, zv::EnvelopePath::automatic};
    if (cpu_has_avx2()) paths.push_back(zv::EnvelopePath::avx2);
    for (uint64_t n : {1, 2, 15, 16, 17, 63, 64, 65, 1000, 4099, 100003}) {
        const std::vector<T> data = awkward_samples<T>(n + 3, rng);
        for (uint64_t columns :
             {uint64_t(1), uint64_t(3), uint64_t(7), n / 5 + 1, n - n / 3, n, n + 1, 2 * n + 5}) {
            if (columns == 0) continue;
            for (int start : {0, 1, 3}) {
                std::vector<T> want_min, want_max;
                reference_envelope(data.data() + start, n, columns, want_min, want_max);
                for (zv::EnvelopePath path : paths) {
                    std::vector<T> mins(columns), maxs(columns);
                    zv::envelope(data.data() + start, n, columns, mins.data(), maxs.data(), path);
                    ASSERT_TRUE(same_bits(mins, want_min) && same_bits(maxs, want_max))
                        << "n " << n << " columns " << columns << " start " << start << " path "
                        << static_cast<int>(path);
                }
            }
        }
    }
}

TEST(EnvelopeC, RefusesNothingToFoldWithItsMessage) {
    const float x[2] = {1.0f, 2.0f};
    float lo[2], hi[2];
    EXPECT_EQ(zv_envelope_float(x, 0, 2, lo, hi), ZV_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(zv_envelope_float(x, 2, 0, lo, hi), ZV_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(zv_envelope_float(x, 2, 2, nullptr, hi), ZV_ERROR_INVALID_ARGUMENT);
    EXPECT_STREQ(zv_get_error_string(), "invalid parameters passed");
    ASSERT_EQ(zv_envelope_float(x, 2, 1, lo, hi), 0);
    EXPECT_EQ(lo[0], 1.0f);
    EXPECT_EQ(hi[0], 2.0f);
}
