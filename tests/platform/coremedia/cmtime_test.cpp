#include "platform/coremedia/cmtime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(CMTimeTest, MakeGivesValidTimeOfEpochZero) {
    const CMTime t = CMTimeMake(1201, 600);
    EXPECT_EQ(t.value, 1201);
    EXPECT_EQ(t.timescale, 600);
    EXPECT_TRUE(CMTimeIsValid(t));
    EXPECT_EQ(t.epoch, 0);
    EXPECT_FALSE(CMTimeIsValid(CMTimeMake(1, 0)));
    EXPECT_EQ(CMTimeGetSeconds(kCMTimeZero), 0.0);
}

TEST(CMTimeTest, CompareIsExactAcrossTimescales) {
    EXPECT_EQ(CMTimeCompare(CMTimeMake(1, 30), CMTimeMake(2, 60)), 0);
    EXPECT_LT(CMTimeCompare(CMTimeMake(1001, 30000), CMTimeMake(1, 29)), 0);
    EXPECT_GT(CMTimeCompare(CMTimeMake(1, 29), CMTimeMake(1001, 30000)), 0);
    // Products beyond 64 bits still compare exactly.
    const int64_t big = std::numeric_limits<int64_t>::max();
    EXPECT_LT(CMTimeCompare(CMTimeMake(big - 1, 1'000'000'000), CMTimeMake(big, 1'000'000'000)), 0);
    EXPECT_GT(CMTimeCompare(CMTimeMake(big, 999'999'999), CMTimeMake(big, 1'000'000'000)), 0);
}

TEST(CMTimeTest, CompareOrdersSpecialTimes) {
    EXPECT_LT(CMTimeCompare(kCMTimeNegativeInfinity, CMTimeMake(-5, 1)), 0);
    EXPECT_GT(CMTimeCompare(kCMTimePositiveInfinity, CMTimeMake(5, 1)), 0);
    EXPECT_GT(CMTimeCompare(kCMTimeInvalid, kCMTimePositiveInfinity), 0);
    EXPECT_EQ(CMTimeCompare(kCMTimeInvalid, kCMTimeInvalid), 0);
}

TEST(CMTimeTest, SumAndDifferenceAreExactInTheCommonTimescale) {
    const CMTime sum = CMTimeAdd(CMTimeMake(1, 30), CMTimeMake(1, 25));
    EXPECT_EQ(sum.timescale, 150);
    EXPECT_EQ(sum.value, 11);
    const CMTime diff = CMTimeSubtract(CMTimeMake(1001, 30000), CMTimeMake(1, 29));
    EXPECT_EQ(CMTimeCompare(diff, CMTimeMake(29 * 1001 - 30000, 30000 * 29)), 0);
    EXPECT_DOUBLE_EQ(CMTimeGetSeconds(diff), (29.0 * 1001 - 30000) / (30000.0 * 29));
    EXPECT_EQ(CMTimeRangeGetEnd(CMTimeRangeMake(CMTimeMake(10, 30), CMTimeMake(90, 30))), CMTimeMake(100, 30));
}

TEST(CMTimeTest, SumWithoutCommonTimescaleIsRoundedIntoTheLargerOne) {
    const CMTime a = CMTimeMake(1, 1'000'000'007);
    const CMTime b = CMTimeMake(1, 999'999'937);
    const CMTime sum = CMTimeAdd(a, b);
    EXPECT_TRUE(CMTimeIsValid(sum));
    EXPECT_EQ(sum.timescale, 1'000'000'007);
    EXPECT_TRUE(sum.flags & kCMTimeFlags_HasBeenRounded);
    EXPECT_NEAR(CMTimeGetSeconds(sum), 2e-9, 1e-15);
}

TEST(CMTimeTest, SumBeyondRangeBecomesInfinite) {
    const CMTime max = CMTimeMake(std::numeric_limits<int64_t>::max(), 1);
    EXPECT_TRUE(CMTimeAdd(max, CMTimeMake(1, 1)).flags & kCMTimeFlags_PositiveInfinity);
    EXPECT_FALSE(CMTimeIsValid(CMTimeAdd(kCMTimeInvalid, max)));
}

TEST(CMTimeTest, SumOfATimeWithoutTimescaleIsInvalid) {
    const CMTime noScale{5, 0, kCMTimeFlags_Valid, 0};
    EXPECT_FALSE(CMTimeIsValid(CMTimeSubtract(noScale, CMTimeMake(1, 10))));
    EXPECT_FALSE(CMTimeIsValid(CMTimeAdd(CMTimeMake(1, 10), CMTime{5, -3, kCMTimeFlags_Valid, 0})));
    EXPECT_EQ(CMTimeAdd(kCMTimePositiveInfinity, CMTimeMake(1, 10)), kCMTimePositiveInfinity);
}

TEST(CMTimeTest, MakeWithSecondsGivesTheNearestTime) {
    EXPECT_EQ(CMTimeMakeWithSeconds(0.5, 600), CMTimeMake(300, 600));
    const CMTime third = CMTimeMakeWithSeconds(1.0 / 3.0, 1000);
    EXPECT_EQ(third.value, 333);
    EXPECT_EQ(CMTimeMakeWithSeconds(2.0 / 3.0, 1000).value, 667);
    // 1.0005 is stored a little below 1.0005: the nearest time is 1000/1000,
    // though the product rounded to a double would be exactly 1000.5.
    EXPECT_EQ(CMTimeMakeWithSeconds(1.0005, 1000).value, 1000);
    EXPECT_EQ(CMTimeMakeWithSeconds(-0.0015, 1000).value, -2);
    EXPECT_FALSE(CMTimeIsValid(CMTimeMakeWithSeconds(std::nan(""), 600)));
    EXPECT_TRUE(CMTimeMakeWithSeconds(1e300, 600).flags & kCMTimeFlags_PositiveInfinity);
}

}  // namespace
