#include "platform/coregraphics/cgrect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "platform/foundation/json_coding.h"

namespace {

TEST(CGRectTest, NegativeHeightIsNormalisedForContainmentAndEdges) {
    const CGRect box = CGRectMake(0.02, 0.55, 0.96, -0.45);
    EXPECT_TRUE(CGRectContainsPoint(box, {0.5, 0.3}));
    EXPECT_FALSE(CGRectContainsPoint(box, {0.5, 0.6}));
    EXPECT_DOUBLE_EQ(CGRectGetMinY(box), 0.1);
    EXPECT_DOUBLE_EQ(CGRectGetMaxY(box), 0.55);
    EXPECT_DOUBLE_EQ(CGRectGetMinX(box), 0.02);
    EXPECT_DOUBLE_EQ(CGRectGetMaxX(box), 0.98);
}

TEST(CGRectTest, ContainsPointIncludesMinimumAndExcludesMaximum) {
    const CGRect r = CGRectMake(0, 0, 1, 1);
    EXPECT_TRUE(CGRectContainsPoint(r, {0, 0}));
    EXPECT_FALSE(CGRectContainsPoint(r, {1, 0.5}));
    EXPECT_FALSE(CGRectContainsPoint(r, {0.5, 1}));
    EXPECT_FALSE(CGRectContainsPoint(CGRectNull, {0, 0}));
}

TEST(CGRectTest, IntersectionOfOverlappingTouchingAndApartRectangles) {
    EXPECT_EQ(CGRectIntersection(CGRectMake(0, 0, 2, 2), CGRectMake(1, 1, 2, 2)), CGRectMake(1, 1, 1, 1));
    // Normalised first.
    EXPECT_EQ(CGRectIntersection(CGRectMake(2, 2, -2, -2), CGRectMake(1, 1, 2, 2)), CGRectMake(1, 1, 1, 1));
    const CGRect touching = CGRectIntersection(CGRectMake(0, 0, 1, 1), CGRectMake(1, 0, 1, 1));
    EXPECT_FALSE(CGRectIsNull(touching));
    EXPECT_EQ(touching, CGRectMake(1, 0, 0, 1));
    EXPECT_TRUE(CGRectIsNull(CGRectIntersection(CGRectMake(0, 0, 1, 1), CGRectMake(2, 2, 1, 1))));
    EXPECT_TRUE(CGRectIsNull(CGRectIntersection(CGRectNull, CGRectMake(0, 0, 1, 1))));
    EXPECT_TRUE(CGRectIsNull(CGRectIntersection(CGRectMake(0, 0, NAN, 1), CGRectMake(0, 0, 1, 1))));
}

TEST(CGRectTest, JsonCodingKeepsNegativeSizes) {
    const CGRect r = CGRectMake(0.25, 0.5, 0.5, -0.25);
    const auto json = encodeCGRect(r);
    EXPECT_EQ(json.dump(), "[[0.25,0.5],[0.5,-0.25]]");
    EXPECT_EQ(decodeCGRect(kv::json::parse(json.dump())->document(), "r"), r);
}

TEST(CGRectTest, JsonDecodingRejectsMalformedRectangles) {
    for (const char* text : {"[[0,0],[1]]", "[[0,0]]", "{\"x\":0}", "[[0,\"0\"],[1,1]]", "[[0,0],[1,null]]",
                             "[[0,0],[1,1],[2,2]]"}) {
        EXPECT_THROW(decodeCGRect(kv::json::parse(text)->document(), "r"), kv::JsonCodingError) << text;
    }
    EXPECT_THROW(encodeCGRect(CGRectMake(0, 0, INFINITY, 1)), kv::JsonCodingError);
}

}  // namespace
