#include "analysis/bounds_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "platform/foundation/log.h"

namespace {

using kv::Bounds;
using kv::MotionBounds;

TEST(BoundsGeometryTest, EmptyAtCountZeroOrAWidthOrHeightOfAThousandthOrLess) {
    const std::vector<std::pair<Bounds, bool>> cases{
        {{0, 0, 0.001, 0.5, 5}, true},
        {{0, 0, 0.5, 0.001, 5}, true},
        {{0, 0, 0.0011, 0.5, 5}, false},
        {{0, 0, 0.5, 0.0011, 5}, false},
        {{0.2, 0.2, 0.5, 0.5, 0}, true},
        {{0.2, 0.2, 0.5, 0.5, -3}, false},  // only a count of 0 is no motion
        {{0, 0, 0, 0, 5}, true},
    };
    for (const auto& [b, empty] : cases) {
        EXPECT_EQ(kv::isEmpty(b), empty) << b.minX << ", " << b.minY << ", " << b.maxX << ", " << b.maxY << ", "
                                         << b.count;
    }
}

TEST(BoundsGeometryTest, FormUnionIgnoresEmptyAndCopiesIntoEmpty) {
    Bounds b;
    kv::formUnion(b, Bounds{0.1, 0.1, 0.2, 0.2, 0});     // count 0: empty
    kv::formUnion(b, Bounds{0.1, 0.1, 0.1005, 0.2, 5});  // too thin: empty
    EXPECT_EQ(b, Bounds{});
    kv::formUnion(b, Bounds{0.1, 0.2, 0.3, 0.4, 5});
    EXPECT_EQ(b, (Bounds{0.1, 0.2, 0.3, 0.4, 5}));
    kv::formUnion(b, Bounds{0.25, 0.1, 0.5, 0.3, 7});
    EXPECT_EQ(b, (Bounds{0.1, 0.1, 0.5, 0.4, 12}));
}

TEST(BoundsGeometryTest, BlendMovesOutsideEdgesByTheFactor) {
    const Bounds inner{0.4, 0.4, 0.6, 0.6, 10};
    const Bounds outer{0.2, 0.3, 0.8, 0.9, 7};
    auto blended = [](Bounds b, const Bounds& other, double f) {
        kv::blend(b, other, f);
        return b;
    };
    EXPECT_EQ(blended(inner, outer, 1.0), (Bounds{0.2, 0.3, 0.8, 0.9, 17}));
    EXPECT_EQ(blended(inner, outer, 0.0), inner);
    EXPECT_EQ(blended(outer, inner, 0.5), (Bounds{0.2, 0.3, 0.8, 0.9, 12}));  // inside: only the count grows
    EXPECT_EQ(blended(inner, outer, 0.5).count, 13);                          // 3.5 truncated
    EXPECT_EQ(blended(inner, Bounds{0.2, 0.3, 0.8, 0.9, -7}, 0.5).count, 7);  // -3.5 toward zero
    EXPECT_EQ(blended(Bounds{}, outer, 0.25), outer);
    // Fusing either product into the sum would change the last bit.
    EXPECT_EQ(blended(Bounds{0.1, 0.0, 0.9, 1.0, 1}, Bounds{0.001, 0.0, 0.9, 1.0, 1}, 0.34).minX, 0.06633999999999998);
}

TEST(BoundsGeometryTest, CountsSaturateInsteadOfOverflowing) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    Bounds b{0.1, 0.1, 0.2, 0.2, kMax};
    kv::formUnion(b, Bounds{0.1, 0.1, 0.2, 0.2, 5});
    kv::extend(b, 0.5, 0.5, 1);
    kv::blend(b, Bounds{0.1, 0.1, 0.2, 0.2, kMax}, 4.0);
    EXPECT_EQ(b.count, kMax);
    Bounds c{0.1, 0.1, 0.2, 0.2, 3};
    kv::blend(c, Bounds{0.1, 0.1, 0.2, 0.2, 5}, std::nan(""));
    EXPECT_EQ(c.count, 3);
}

TEST(BoundsGeometryTest, IntersectEachKeepsTheBoundingBoxOfThickOverlaps) {
    auto clipped = [](Bounds b, const std::vector<Bounds>& list) {
        kv::intersectEach(b, list);
        return b;
    };
    const Bounds r{0.2, 0.2, 0.6, 0.6, 9};
    const Bounds both = clipped(r, {{0.1, 0.1, 0.3, 0.3, 0}, {0.5, 0.4, 0.9, 0.5, 1}, {0.8, 0.8, 0.9, 0.9, 1}});
    EXPECT_EQ(both.count, 9);  // the list's counts play no part
    EXPECT_DOUBLE_EQ(both.minX, 0.2);
    EXPECT_DOUBLE_EQ(both.maxY, 0.5);
    const Bounds inverted = clipped(r, {{0.5, 0.5, 0.3, 0.3, 1}});  // normalised first
    EXPECT_DOUBLE_EQ(inverted.minX, 0.3);
    EXPECT_DOUBLE_EQ(inverted.maxY, 0.5);

    EXPECT_EQ(clipped(r, {}), Bounds{});
    EXPECT_EQ(clipped(r, {{0.7, 0.7, 0.9, 0.9, 1}}), Bounds{});
    // Touching or thin overlaps are kept but add nothing: the edges become 0.
    EXPECT_EQ(clipped(r, {{0.6, 0.2, 0.9, 0.6, 1}, {0.2, 0.5995, 0.6, 0.9, 1}}), (Bounds{0, 0, 0, 0, 9}));
    EXPECT_EQ(clipped(Bounds{0.2, 0.2, 0.6, 0.6, 0}, {}), (Bounds{0.2, 0.2, 0.6, 0.6, 0}));
}

TEST(BoundsGeometryTest, ListOperations) {
    const Bounds b{1.0, 2.0, 10.0, 20.0, 1};
    EXPECT_EQ(kv::distance(b, 1.0, 20.0), 0.0);
    EXPECT_EQ(kv::distance(b, 1.0 - 3, 20.0 + 4), 5.0);

    EXPECT_EQ(kv::totalArea({{0, 0, 0.5, 0.5, 1}, {0, 0, 1, 1, 0}, {0.5, 0.5, 1, 0.75, 2}}), 0.25 + 0.125);

    EXPECT_EQ(kv::nearestGroup({}, 0.5, 0.5), 0u);
    const std::vector<Bounds> two{{0.0, 0.0, 0.25, 0.25, 1}, {0.75, 0.0, 1.0, 0.25, 1}};
    EXPECT_EQ(kv::nearestGroup(two, 0.5, 0.125), 0u);  // a tie: the first
    EXPECT_EQ(kv::nearestGroup(two, 0.53125, 0.125), 1u);
    EXPECT_EQ(kv::nearestGroup({{0.0, 0.0, 0.1, 0.1, 1}, {0.5, 0.5, 0.5, 0.5, 0}}, 0.5, 0.5), 1u);  // empty counts

    std::vector<Bounds> list{{0, 0, 0.1, 0.1, 1}, {0, 0, 0.2, 0.1, 2}, {0, 0, 0.1, 0.2, 3},
                             {0, 0, 0.5, 0.5, 0}, {0, 0, 0.1, 0.1, 5}, {0, 0, std::nan(""), 1, 6}};
    kv::sortByArea(list);
    std::vector<int64_t> order;
    for (const Bounds& x : list) order.push_back(x.count);
    EXPECT_EQ(order, (std::vector<int64_t>{0, 2, 3, 1, 5, 6}));
}

TEST(BoundsGeometryTest, FitInFrameShiftsTheWindowLowEdgeFirstAndLogsIt) {
    kv::LogCapture log;
    Bounds b{0.75, 0.25, 1.0, 0.75, 3};
    kv::fitInFrame(b, 0.5, 0.5, 0, 0);
    EXPECT_EQ(b, (Bounds{0.5, 0.25, 1.0, 0.75, 3}));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "result 0.5, 0.25, 1.0, 0.75, cx 0.75, cy 0.5");

    Bounds wide{0.4, 0.4, 0.6, 0.6, 1};  // wider than the frame and both margins
    kv::fitInFrame(wide, 2.0, 0.5, 0.25, 0);
    EXPECT_EQ(wide.minX, -0.25);
    EXPECT_EQ(wide.maxX, 1.75);
    Bounds high{0.9, 0.9, 1.0, 1.0, 1};
    kv::fitInFrame(high, 0.5, 0.5, 0.1, 0.1);
    EXPECT_DOUBLE_EQ(high.minX, 0.6);
    EXPECT_DOUBLE_EQ(high.maxY, 1.1);
}

TEST(MotionGroupingTest, NewGroupsOpenWithCountZero) {
    MotionBounds sample;
    kv::addMotionRect(sample, 500, 0.5, 0.5, 0.01, 0.01, 0.05);
    ASSERT_EQ(sample.bounds.size(), 1u);
    EXPECT_EQ(sample.bounds[0], (Bounds{0.5, 0.5, 0.5 + 0.01, 0.5 + 0.01, 0}));
    // Far away: a second group, which the prune then removes with the isolated first.
    kv::addMotionRect(sample, 500, 0.9, 0.9, 0.01, 0.01, 0.05);
    EXPECT_EQ(sample.bounds.size(), 2u);
    kv::pruneGroups(sample, 200);
    EXPECT_TRUE(sample.bounds.empty());
}

TEST(MotionGroupingTest, AnyOneCornerWithinReachJoinsTheGroup) {
    struct Case {
        const char* corner;
        double x, y, w, h;
        Bounds grown;
    };
    // The group (0.5, 0.5, 0.51, 0.51); each rectangle has only the named corner
    // within 0.05 of it, and the group grows to the rectangle's (x, y).
    const double edge = 0.5 + 0.01;
    const std::vector<Case> cases{
        {"(x, y)", 0.52, 0.52, 0.2, 0.2, {0.5, 0.5, 0.52, 0.52, 70}},
        {"(x + w, y)", 0.3, 0.52, 0.19, 0.2, {0.3, 0.5, edge, 0.52, 70}},
        {"(x + w, y + h)", 0.3, 0.3, 0.19, 0.19, {0.3, 0.3, edge, edge, 70}},
        {"(x, y + h)", 0.52, 0.3, 0.2, 0.19, {0.5, 0.3, 0.52, edge, 70}},
    };
    for (const Case& c : cases) {
        MotionBounds sample;
        kv::addMotionRect(sample, 500, 0.5, 0.5, 0.01, 0.01, 0.05);
        kv::addMotionRect(sample, 70, c.x, c.y, c.w, c.h, 0.05);
        ASSERT_EQ(sample.bounds.size(), 1u) << c.corner;
        EXPECT_EQ(sample.bounds[0], c.grown) << c.corner;
    }
}

TEST(MotionGroupingTest, RectangleJoinsTheGroupNearestToItsCentre) {
    MotionBounds sample;
    kv::addMotionRect(sample, 1, 0.1, 0.1, 0.01, 0.01, 0.05);
    kv::addMotionRect(sample, 1, 0.3, 0.1, 0.01, 0.01, 0.05);
    // Its corner (x, y) is nearer to group 0, its centre to group 1.
    kv::addMotionRect(sample, 9, 0.14, 0.1, 0.14, 0.01, 0.05);
    ASSERT_EQ(sample.bounds.size(), 2u);
    EXPECT_EQ(sample.bounds[1].count, 9);
    EXPECT_EQ(sample.bounds[1].minX, 0.14);
}

TEST(MotionGroupingTest, PruneKeepsCountAtTheLimitAndDropRemovesEmpty) {
    MotionBounds sample{
        CMTimeMake(0, 1),
        {{0.1, 0.1, 0.2, 0.2, 199}, {0.3, 0.3, 0.4, 0.4, 200}, {0.5, 0.5, 0.5, 0.6, 300}, {0.6, 0.6, 0.7, 0.7, 400}}};
    kv::pruneGroups(sample, 200);
    kv::dropDegenerateBounds(sample);
    ASSERT_EQ(sample.bounds.size(), 2u);
    EXPECT_EQ(sample.bounds[0].count, 200);
    EXPECT_EQ(sample.bounds[1].count, 400);
}

}  // namespace
