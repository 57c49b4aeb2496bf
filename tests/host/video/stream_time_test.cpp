#include "host/video/stream_time.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using kv::streamTicksAtOrBefore;
using kv::streamTime;

TEST(StreamTimeTest, TicksBecomeTimesInTheTimeBaseDenominator) {
    EXPECT_EQ(streamTime(15184000, 1, 1000000), CMTimeMake(15184000, 1000000));
    EXPECT_EQ(streamTime(-512, 1, 12800), CMTimeMake(-512, 12800));
    // A numerator other than one scales the value, keeping the time exact.
    EXPECT_EQ(streamTime(7, 1001, 30000), CMTimeMake(7007, 30000));
}

TEST(StreamTimeTest, RefusesOverflowAndBadTimeBases) {
    EXPECT_EQ(streamTime(std::numeric_limits<int64_t>::max() / 2, 3, 90000), std::nullopt);
    EXPECT_EQ(streamTime(std::numeric_limits<int64_t>::min() / 2, 3, 90000), std::nullopt);
    EXPECT_EQ(streamTime(1, 0, 90000), std::nullopt);
    EXPECT_EQ(streamTime(1, 1, 0), std::nullopt);
    EXPECT_EQ(streamTime(1, -1, 25), std::nullopt);
}

TEST(StreamTimeTest, SeekTicksRoundDownSoASeekNeverPassesTheTime) {
    EXPECT_EQ(streamTicksAtOrBefore(CMTimeMake(1, 20), 1, 10240), 512);
    EXPECT_EQ(streamTicksAtOrBefore(CMTimeMake(1, 3), 1, 10), 3);
    EXPECT_EQ(streamTicksAtOrBefore(CMTimeMake(-1, 3), 1, 10), -4);
    EXPECT_EQ(streamTicksAtOrBefore(CMTimeMake(7007, 30000), 1001, 30000), 7);
    // value × den would overflow 64 bits; the result still fits.
    EXPECT_EQ(streamTicksAtOrBefore(CMTimeMake(std::numeric_limits<int64_t>::max(), 1000000000), 1, 1000000000),
              std::numeric_limits<int64_t>::max());
}

TEST(StreamTimeTest, SeekTicksSaturateForInfinitiesAndRefuseNonTimes) {
    EXPECT_EQ(streamTicksAtOrBefore(kCMTimePositiveInfinity, 1, 25), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(streamTicksAtOrBefore(kCMTimeNegativeInfinity, 1, 25), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(streamTicksAtOrBefore(CMTimeMake(std::numeric_limits<int64_t>::max(), 1), 1, 90000),
              std::numeric_limits<int64_t>::max());
    EXPECT_EQ(streamTicksAtOrBefore(kCMTimeInvalid, 1, 25), std::nullopt);
    EXPECT_EQ(streamTicksAtOrBefore(CMTimeMake(1, 1), 1, 0), std::nullopt);
}

}  // namespace
