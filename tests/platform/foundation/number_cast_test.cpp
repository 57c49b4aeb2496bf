#include "platform/foundation/number_cast.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kv {
namespace {

constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The range's edges are where a cast becomes undefined: 2^63 itself is past
// it, -2^63 is the smallest value in it, and the next double below 2^63 fits.
TEST(NumberCastTest, TheSigned64BitRangeEndsExactlyAtTwoTo63) {
    struct Case {
        double value;
        bool fits;
        int64_t saturated;
    };
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max(), kMin = std::numeric_limits<int64_t>::min();
    const Case cases[] = {
        {kTwoTo63, false, kMax},
        {std::nextafter(kTwoTo63, 0.0), true, int64_t(9223372036854774784)},
        {-kTwoTo63, true, kMin},
        {std::nextafter(-kTwoTo63, -kInfinity), false, kMin},
        {-1.9, true, -1},
        {kInfinity, false, kMax},
        {-kInfinity, false, kMin},
        {kNaN, false, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fitsInInt64(c.value), c.fits) << c.value;
        EXPECT_EQ(saturatingInt64(c.value), c.saturated) << c.value;
    }
    // In long double, which holds every integer near 2^63, the edge is the same.
    EXPECT_FALSE(fitsInInt64(9223372036854775808.0L));
    EXPECT_TRUE(fitsInInt64(9223372036854775807.0L));
}

TEST(NumberCastTest, TheUnsignedCastHoldsAtZeroAndAtTwoTo64) {
    EXPECT_EQ(saturatingUInt64(-0.5), 0u);
    EXPECT_EQ(saturatingUInt64(kNaN), 0u);
    EXPECT_EQ(saturatingUInt64(2.9), 2u);
    EXPECT_EQ(saturatingUInt64(18446744073709551616.0), std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(saturatingUInt64(std::nextafter(18446744073709551616.0, 0.0)), uint64_t(18446744073709549568u));
}

}  // namespace
}  // namespace kv
