#include "analysis/bounds_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/foundation/log.h"

namespace {

using kv::Bounds;
using kv::MotionBounds;

constexpr int64_t kMaxCount = std::numeric_limits<int64_t>::max();

TEST(BoundsGeometryTest, EmptyCoversZeroCountZeroEdgesAndThinBoxes) {
    EXPECT_FALSE(kv::isEmpty(Bounds{0.1, 0.1, 0.2, 0.2, 1}));
    EXPECT_TRUE(kv::isEmpty(Bounds{0.1, 0.1, 0.2, 0.2, 0}));
    EXPECT_TRUE(kv::isEmpty(Bounds{0, 0, 0, 0, 7}));
    EXPECT_TRUE(kv::isEmpty(Bounds{0.1, 0.1, 0.1005, 0.2, 1}));
    EXPECT_TRUE(kv::isEmpty(Bounds{0.1, 0.1, 0.2, 0.1005, 1}));
    EXPECT_TRUE(kv::isEmpty(Bounds{0.5, 0.5, 0.25, 0.75, 1}));  // inverted
    EXPECT_FALSE(kv::isEmpty(Bounds{0.5, 0.5, 0.5015, 0.5015, 1}));
}

TEST(BoundsGeometryTest, FormUnionIgnoresEmptyAndCopiesIntoEmpty) {
    Bounds zero;
    kv::formUnion(zero, Bounds{0.1, 0.1, 0.2, 0.2, 0});
    EXPECT_EQ(zero, Bounds{});

    const Bounds a{0.1, 0.2, 0.3, 0.4, 5};
    Bounds b = zero;
    kv::formUnion(b, a);
    EXPECT_EQ(b, a);

    kv::formUnion(b, Bounds{0.25, 0.1, 0.5, 0.3, 7});
    EXPECT_EQ(b, (Bounds{0.1, 0.1, 0.5, 0.4, 12}));

    // An empty receiver with a count is replaced, count included.
    Bounds thin{0.1, 0.1, 0.1, 0.5, 99};
    kv::formUnion(thin, a);
    EXPECT_EQ(thin, a);
}

TEST(BoundsGeometryTest, BlendMovesOutsideEdgesByTheFactor) {
    const Bounds inner{0.4, 0.4, 0.6, 0.6, 10};
    const Bounds outer{0.2, 0.3, 0.8, 0.9, 7};

    Bounds full = inner;
    kv::blend(full, outer, 1.0);
    EXPECT_EQ(full, (Bounds{0.2, 0.3, 0.8, 0.9, 17}));

    Bounds none = inner;
    kv::blend(none, outer, 0.0);
    EXPECT_EQ(none, inner);

    Bounds half = inner;
    kv::blend(half, outer, 0.5);
    EXPECT_EQ(half.minX, 0.2 * 0.5 + 0.5 * 0.4);
    EXPECT_EQ(half.maxY, 0.9 * 0.5 + 0.5 * 0.6);
    EXPECT_EQ(half.count, 13);  // 7 × 0.5 = 3.5, truncated

    Bounds around = outer;
    kv::blend(around, inner, 0.5);  // inner lies within: edges stay, count grows
    EXPECT_EQ(around, (Bounds{0.2, 0.3, 0.8, 0.9, 12}));

    Bounds negative = inner;
    kv::blend(negative, Bounds{0.2, 0.3, 0.8, 0.9, -7}, 0.5);
    EXPECT_EQ(negative.count, 7);  // -3.5 truncates toward zero to -3

    Bounds zero;
    kv::blend(zero, outer, 0.25);
    EXPECT_EQ(zero, outer);
    kv::blend(zero, Bounds{}, 0.25);
    EXPECT_EQ(zero, outer);
}

TEST(BoundsGeometryTest, BlendRoundsEachProductBeforeTheSum) {
    // Fusing either product into the sum would give a different last bit.
    Bounds b{0.1, 0.0, 0.9, 1.0, 1};
    kv::blend(b, Bounds{0.001, 0.0, 0.9, 1.0, 1}, 0.34);
    EXPECT_EQ(b.minX, 0.06633999999999998);
}

TEST(BoundsGeometryTest, CountsSaturateInsteadOfOverflowing) {
    Bounds b{0.1, 0.1, 0.2, 0.2, kMaxCount};
    kv::formUnion(b, Bounds{0.1, 0.1, 0.2, 0.2, 5});
    EXPECT_EQ(b.count, kMaxCount);
    kv::extend(b, 0.5, 0.5, 1);
    EXPECT_EQ(b.count, kMaxCount);
    kv::blend(b, Bounds{0.1, 0.1, 0.2, 0.2, kMaxCount}, 4.0);
    EXPECT_EQ(b.count, kMaxCount);
    Bounds c{0.1, 0.1, 0.2, 0.2, 3};
    kv::blend(c, Bounds{0.1, 0.1, 0.2, 0.2, 5}, std::nan(""));
    EXPECT_EQ(c.count, 3);
}

TEST(BoundsGeometryTest, ExtendGrowsToThePointAndAddsTheCount) {
    Bounds b{0.4, 0.4, 0.6, 0.6, 1};
    kv::extend(b, 0.3, 0.7, 4);
    EXPECT_EQ(b, (Bounds{0.3, 0.4, 0.6, 0.7, 5}));
    kv::extend(b, 0.5, 0.5, 0);
    EXPECT_EQ(b, (Bounds{0.3, 0.4, 0.6, 0.7, 5}));
}

TEST(BoundsGeometryTest, IntersectEachKeepsTheBoundingBoxOfThickOverlaps) {
    Bounds r{0.2, 0.2, 0.6, 0.6, 9};
    kv::intersectEach(r, {Bounds{0.1, 0.1, 0.3, 0.3, 0}, Bounds{0.5, 0.4, 0.9, 0.5, 1}, Bounds{0.8, 0.8, 0.9, 0.9, 1}});
    EXPECT_DOUBLE_EQ(r.minX, 0.2);
    EXPECT_DOUBLE_EQ(r.minY, 0.2);
    EXPECT_DOUBLE_EQ(r.maxX, 0.6);
    EXPECT_DOUBLE_EQ(r.maxY, 0.5);
    EXPECT_EQ(r.count, 9);  // the list's counts play no part
}

TEST(BoundsGeometryTest, IntersectEachWithNothingOrOnlyThinOverlaps) {
    Bounds alone{0.2, 0.2, 0.6, 0.6, 9};
    kv::intersectEach(alone, {});
    EXPECT_EQ(alone, Bounds{});

    Bounds apart{0.2, 0.2, 0.6, 0.6, 9};
    kv::intersectEach(apart, {Bounds{0.7, 0.7, 0.9, 0.9, 1}});
    EXPECT_EQ(apart, Bounds{});

    // Touching rectangles overlap in a line, which is kept but too thin to count.
    Bounds touching{0.2, 0.2, 0.6, 0.6, 9};
    kv::intersectEach(touching, {Bounds{0.6, 0.2, 0.9, 0.6, 1}, Bounds{0.2, 0.5995, 0.6, 0.9, 1}});
    EXPECT_EQ(touching, (Bounds{0, 0, 0, 0, 9}));

    Bounds empty{0.2, 0.2, 0.6, 0.6, 0};
    kv::intersectEach(empty, {});
    EXPECT_EQ(empty, (Bounds{0.2, 0.2, 0.6, 0.6, 0}));
}

TEST(BoundsGeometryTest, IntersectEachNormalisesInvertedBoxesOfTheList) {
    Bounds r{0.2, 0.2, 0.6, 0.6, 2};
    kv::intersectEach(r, {Bounds{0.5, 0.5, 0.3, 0.3, 1}});
    EXPECT_DOUBLE_EQ(r.minX, 0.3);
    EXPECT_DOUBLE_EQ(r.maxX, 0.5);
    EXPECT_DOUBLE_EQ(r.minY, 0.3);
    EXPECT_DOUBLE_EQ(r.maxY, 0.5);
}

TEST(BoundsGeometryTest, DistanceIsZeroInsideAndEuclideanOutside) {
    const Bounds b{1.0, 2.0, 10.0, 20.0, 1};
    EXPECT_EQ(kv::distance(b, 1.0, 20.0), 0.0);
    EXPECT_EQ(kv::distance(b, 5.0, 5.0), 0.0);
    EXPECT_EQ(kv::distance(b, 1.0 - 3, 20.0 + 4), 5.0);
    EXPECT_EQ(kv::distance(b, 13.0, 10.0), 3.0);
    EXPECT_EQ(kv::distance(b, 5.0, 1.0), 1.0);
}

TEST(BoundsGeometryTest, FitInFrameShiftsTheWindowAndLogsIt) {
    kv::LogCapture log;
    Bounds b{0.75, 0.25, 1.0, 0.75, 3};
    kv::fitInFrame(b, 0.5, 0.5, 0, 0);
    EXPECT_EQ(b, (Bounds{0.5, 0.25, 1.0, 0.75, 3}));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "result 0.5, 0.25, 1.0, 0.75, cx 0.75, cy 0.5");
}

TEST(BoundsGeometryTest, FitInFrameRespectsMarginsAndTestsTheLowEdgeFirst) {
    kv::LogCapture log;
    Bounds low{0.0, 0.0, 0.1, 0.1, 1};
    kv::fitInFrame(low, 0.4, 0.4, 0.1, 0);
    EXPECT_DOUBLE_EQ(low.minX, -0.1);
    EXPECT_DOUBLE_EQ(low.maxX, 0.3);
    EXPECT_DOUBLE_EQ(low.minY, 0.0);
    EXPECT_DOUBLE_EQ(low.maxY, 0.4);

    // Wider than the frame and both margins: flush with the low limit.
    Bounds wide{0.4, 0.4, 0.6, 0.6, 1};
    kv::fitInFrame(wide, 2.0, 0.5, 0.25, 0);
    EXPECT_EQ(wide.minX, -0.25);
    EXPECT_EQ(wide.maxX, 1.75);

    // Low edge within its limit: the window is moved down to end at 1 + margin.
    Bounds high{0.9, 0.9, 1.0, 1.0, 1};
    kv::fitInFrame(high, 0.5, 0.5, 0.1, 0.1);
    EXPECT_DOUBLE_EQ(high.maxX, 1.1);
    EXPECT_DOUBLE_EQ(high.minX, 0.6);
    EXPECT_DOUBLE_EQ(high.maxY, 1.1);
    EXPECT_EQ(log.lines().size(), 3u);
}

TEST(BoundsGeometryTest, TotalAreaSkipsEmptyBoxes) {
    EXPECT_EQ(kv::totalArea({}), 0.0);
    EXPECT_DOUBLE_EQ(kv::totalArea({Bounds{0, 0, 0.5, 0.5, 1}, Bounds{0, 0, 1, 1, 0}, Bounds{0.5, 0.5, 1, 0.75, 2}}),
                     0.25 + 0.125);
}

TEST(BoundsGeometryTest, NearestGroupTakesTheFirstOfEqualDistances) {
    EXPECT_EQ(kv::nearestGroup({}, 0.5, 0.5), 0u);
    const std::vector<Bounds> two{Bounds{0.0, 0.0, 0.25, 0.25, 1}, Bounds{0.75, 0.0, 1.0, 0.25, 1}};
    EXPECT_EQ(kv::nearestGroup(two, 0.5, 0.125), 0u);
    EXPECT_EQ(kv::nearestGroup(two, 0.53125, 0.125), 1u);
    // Empty boxes count too.
    EXPECT_EQ(kv::nearestGroup({Bounds{0.0, 0.0, 0.1, 0.1, 1}, Bounds{0.5, 0.5, 0.5, 0.5, 0}}, 0.5, 0.5), 1u);
}

TEST(BoundsGeometryTest, SortByAreaIsStableAndLargestFirst) {
    std::vector<Bounds> list{Bounds{0, 0, 0.1, 0.1, 1}, Bounds{0, 0, 0.2, 0.1, 2}, Bounds{0, 0, 0.1, 0.2, 3},
                             Bounds{0, 0, 0.5, 0.5, 0}, Bounds{0, 0, 0.1, 0.1, 5}};
    kv::sortByArea(list);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0].count, 0);  // empty boxes are sorted by their area too
    EXPECT_EQ(list[1].count, 2);
    EXPECT_EQ(list[2].count, 3);
    EXPECT_EQ(list[3].count, 1);
    EXPECT_EQ(list[4].count, 5);

    std::vector<Bounds> withNan{Bounds{0, 0, std::nan(""), 1, 1}, Bounds{0, 0, 0.1, 0.1, 2}};
    kv::sortByArea(withNan);
    EXPECT_EQ(withNan[0].count, 2);
}

TEST(MotionGroupingTest, IsolatedRectangleOpensAGroupOfCountZero) {
    MotionBounds sample;
    kv::addMotionRect(sample, 500, 0.1, 0.1, 0.01, 0.02, 0.05);
    ASSERT_EQ(sample.bounds.size(), 1u);
    EXPECT_EQ(sample.bounds[0], (Bounds{0.1, 0.1, 0.1 + 0.01, 0.1 + 0.02, 0}));

    kv::addMotionRect(sample, 500, 0.5, 0.5, 0.01, 0.01, 0.05);
    EXPECT_EQ(sample.bounds.size(), 2u);
    kv::pruneGroups(sample, 200);
    EXPECT_TRUE(sample.bounds.empty());
}

TEST(MotionGroupingTest, JoiningRectangleExtendsOnlyToItsFirstCorner) {
    MotionBounds sample;
    kv::addMotionRect(sample, 50, 0.5, 0.5, 0.01, 0.01, 0.05);
    // Only its corner (x + w, y) is within reach; the group grows to (x, y) only.
    kv::addMotionRect(sample, 70, 0.4, 0.5, 0.1, 0.3, 0.05);
    ASSERT_EQ(sample.bounds.size(), 1u);
    EXPECT_EQ(sample.bounds[0], (Bounds{0.4, 0.5, 0.5 + 0.01, 0.5 + 0.01, 70}));
}

TEST(MotionGroupingTest, RectangleJoinsTheGroupNearestToItsCentre) {
    MotionBounds sample;
    kv::addMotionRect(sample, 1, 0.1, 0.1, 0.01, 0.01, 0.05);
    kv::addMotionRect(sample, 1, 0.3, 0.1, 0.01, 0.01, 0.05);
    // Corner (x, y) is close to group 0, but the centre is nearest to group 1.
    kv::addMotionRect(sample, 9, 0.14, 0.1, 0.14, 0.01, 0.05);
    ASSERT_EQ(sample.bounds.size(), 2u);
    EXPECT_EQ(sample.bounds[0].count, 0);
    EXPECT_EQ(sample.bounds[1].count, 9);
    EXPECT_EQ(sample.bounds[1].minX, 0.14);
}

TEST(MotionGroupingTest, PruneKeepsCountAtTheLimitAndDropRemovesEmpty) {
    MotionBounds sample;
    sample.bounds = {Bounds{0.1, 0.1, 0.2, 0.2, 199}, Bounds{0.3, 0.3, 0.4, 0.4, 200}, Bounds{0.5, 0.5, 0.5, 0.6, 300},
                     Bounds{0.6, 0.6, 0.7, 0.7, 400}};
    kv::pruneGroups(sample, 200);
    ASSERT_EQ(sample.bounds.size(), 3u);
    EXPECT_EQ(sample.bounds[0].count, 200);
    kv::dropDegenerateBounds(sample);
    ASSERT_EQ(sample.bounds.size(), 2u);
    EXPECT_EQ(sample.bounds[0].count, 200);
    EXPECT_EQ(sample.bounds[1].count, 400);
}

TEST(MotionGroupingTest, DetectionOrderGroupsAClusterIntoOneBox) {
    // A 5 × 5 cluster of detection windows, then the calls in detection order.
    MotionBounds sample;
    for (int row = 0; row < 5; ++row) {
        for (int col = 0; col < 5; ++col) {
            kv::addMotionRect(sample, 100, 0.3 + col * 0.01, 0.4 + row * 0.01, 0.01, 0.01, 0.05);
        }
    }
    kv::addMotionRect(sample, 100, 0.9, 0.9, 0.01, 0.01, 0.05);
    kv::pruneGroups(sample, 200);
    kv::dropDegenerateBounds(sample);
    kv::sortByArea(sample.bounds);
    ASSERT_EQ(sample.bounds.size(), 1u);
    EXPECT_EQ(sample.bounds[0].count, 2400);
    EXPECT_DOUBLE_EQ(sample.bounds[0].minX, 0.3);
    EXPECT_DOUBLE_EQ(sample.bounds[0].minY, 0.4);
    EXPECT_DOUBLE_EQ(sample.bounds[0].maxX, 0.34);
    EXPECT_DOUBLE_EQ(sample.bounds[0].maxY, 0.44);
}

}  // namespace
