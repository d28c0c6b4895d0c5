#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "stream/calibrate.h"
#include "stream_test_support.h"

namespace {

template <typename T> class Calibrate : public ::testing::Test {};
using ElementTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(Calibrate, ElementTypes);

} // namespace

// Every raw word, with port bits, through the vector and the portable paths at every start
// alignment and tail length: the bits must agree with the plain T expression.
TYPED_TEST(Calibrate, EveryPathGivesTheBitsOfThePlainExpression) {
    using T = TypeParam;
    const std::vector<uint16_t> words = ramp_words(65536 + 64);
    const T scale = static_cast<T>(0.1);
    const T offset = static_cast<T>(-3.7);
    std::vector<T> expected(words.size());
    for (size_t i = 0; i < words.size(); ++i)
        expected[i] = static_cast<T>(words[i] & 0x3FFF) * scale + offset;

    for (int start = 0; start < 3; ++start) {
        for (int32_t count : {0, 1, 7, 8, 15, 16, 17, 33, 65536 + 61}) {
            std::vector<T> fast(count), portable(count);
            calibrate(words.data() + start, count, scale, offset, fast.data());
            calibrate_portable(words.data() + start, count, scale, offset, portable.data());
            // memcmp must not be given the null data of an empty vector.
            const auto same_bits = [&](const std::vector<T> &got) {
                return count == 0 ||
                       std::memcmp(got.data(), expected.data() + start, count * sizeof(T)) == 0;
            };
            ASSERT_TRUE(same_bits(fast)) << "start " << start << " count " << count;
            ASSERT_TRUE(same_bits(portable));
            if (cpu_has_avx2()) {
                std::vector<T> vector(count);
                calibrate_avx2(words.data() + start, count, scale, offset, vector.data());
                ASSERT_TRUE(same_bits(vector));
            }
        }
    }
}
