// The frame differencing's interface: sizes, missing frames, the mask, the
// working functions for one point and the small utilities.
#include "analysis/frame_difference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/analysis/frame_difference_check.h"
#include "tests/analysis/frame_difference_frames.h"
#include "tests/analysis/frame_difference_literal.h"

namespace {

using fdframes::Frame;

TileSearchParams pointParams(const Frame& frame, size_t row, size_t col, int32_t dx = 0, int32_t dy = 0) {
    TileSearchParams p{};
    p.width = frame.width;
    p.height = frame.height;
    p.halfWindow = 10;
    p.maxIterations = 25;
    p.ratioFactor = 0.2f;
    p.row = row;
    p.col = col;
    p.dx = dx;
    p.dy = dy;
    return p;
}

bool sameParams(const TileSearchParams& a, const TileSearchParams& b) {
    return a.dx == b.dx && a.dy == b.dy && a.maskCount == b.maskCount && a.displacedCount == b.displacedCount &&
           a.inPlaceCount == b.inPlaceCount &&
           std::memcmp(&a.displacedDiffMean, &b.displacedDiffMean, 4 * sizeof(float)) == 0;
}

bool terminatorOnly(const float* f1, const float* f2, int32_t width, int32_t height) {
    MotionOffsetTile* tiles = LowLevel_MotionDetectionTakeDifference(f1, f2, nullptr, width, height);
    const MotionOffsetTile zero{};
    const bool empty = std::memcmp(&tiles[0], &zero, sizeof zero) == 0;
    LowLevel_ReleaseMotionOffsetTile(tiles);
    return empty;
}

TEST(FrameDifferenceTest, FramesOfFortyPixelsOrLessOrMissingGiveTheTerminatorAlone) {
    const Frame f1 = fdframes::texturedFrame(90, 90, 2);
    const Frame f2 = fdframes::shifted(f1, 2, 2);
    ASSERT_FALSE(terminatorOnly(f1.data(), f2.data(), 90, 90));
    // Smaller sizes read only the first rows of the buffers.
    for (const auto& [w, h] : {std::pair{40, 90}, {90, 40}, {40, 40}, {0, 0}, {1, 1}, {-90, 90}, {90, -41}})
        EXPECT_TRUE(terminatorOnly(f1.data(), f2.data(), w, h)) << w << "x" << h;
    EXPECT_TRUE(terminatorOnly(nullptr, f2.data(), 90, 90));
    EXPECT_TRUE(terminatorOnly(f1.data(), nullptr, 90, 90));
    LowLevel_ReleaseMotionOffsetTile(nullptr);
}

TEST(FrameDifferenceTest, WidthFortyOneScansTheSingleColumnTwenty) {
    const Frame f1 = fdframes::texturedFrame(41, 120, 8);
    const auto records = fdcheck::realRecords(f1, fdframes::shifted(f1, 0, 3));
    ASSERT_FALSE(records.empty());
    for (const MotionOffsetTile& t : records) {
        EXPECT_EQ(t.x, 20.0f / 41.0f);
        EXPECT_EQ(t.w, 10.0f / 41.0f);
        EXPECT_EQ(t.h, 10.0f / 120.0f);
    }
}

TEST(FrameDifferenceTest, MaskIsUntouchedWhenNothingIsStored) {
    const Frame f1 = fdframes::texturedFrame(80, 80, 4);
    std::vector<uint8_t> mask(80 * 80, 7);
    const auto records = fdcheck::realRecords(f1, f1, mask.data());
    EXPECT_TRUE(records.empty());
    EXPECT_TRUE(std::all_of(mask.begin(), mask.end(), [](uint8_t b) { return b == 7; }));
}

TEST(FrameDifferenceTest, EightKFramesStayInsideTheirBuffers) {
    // Uniform 8K frames with a textured patch moved near the far corner, where
    // the byte offsets are largest.
    constexpr int32_t width = 7680, height = 4320;
    Frame f1 = fdframes::uniformFrame(width, height, 0.3f, 0.3f, 0.3f);
    const Frame patch = fdframes::texturedFrame(120, 100, 13);
    for (int32_t r = 0; r < patch.height; ++r)
        std::copy(patch.at(r, 0), patch.at(r, 0) + 4 * patch.width, f1.at(height - patch.height + r, width - patch.width));
    const Frame f2 = fdframes::withMovedPatch(f1, height - 80, width - 100, 60, -2, 3);
    EXPECT_GT(fdcheck::expectSameAsReference(f1, f2, "8K frame pair"), 0u);
}

TEST(FrameDifferenceTest, TryCorrelateOffsetMatchesTheReferenceWithScratchAndMask) {
    const Frame f1 = fdframes::texturedFrame(90, 80, 17);
    const Frame f2 = fdframes::withMovedPatch(f1, 10, 10, 60, 2, -3);
    for (const auto& [dx, dy] : {std::pair{0, 0}, {2, -3}, {-10, 4}, {-11, 0}, {0, -11}, {5, 5}, {40, 0}, {0, 50}}) {
        SCOPED_TRACE(testing::Message() << "shift " << dx << "," << dy);
        TileSearchParams real = pointParams(f1, 40, 45, dx, dy), reference = real;
        std::vector<uint8_t> realScratch(400, 9), referenceScratch(400, 9);
        std::vector<uint8_t> realMask(90 * 80, 3), referenceMask(90 * 80, 3);
        tryCorrelateOffset(f1.data(), f2.data(), realMask.data(), realScratch.data(), &real);
        literal::tryCorrelateOffset(f1.data(), f2.data(), referenceMask.data(), referenceScratch.data(), reference);
        EXPECT_TRUE(sameParams(real, reference));
        EXPECT_EQ(realScratch, referenceScratch);
        EXPECT_EQ(realMask, referenceMask);
    }
}

TEST(FrameDifferenceTest, WindowTestLeavesAllStatisticsZero) {
    const Frame f1 = fdframes::texturedFrame(90, 80, 17);
    std::vector<uint8_t> scratch(400);
    // Below -halfWindow in either direction, and past the frame's edges.
    for (const auto& [dx, dy] : {std::pair{-11, 0}, {0, -11}, {41, 0}, {0, 31}}) {
        TileSearchParams p = pointParams(f1, 40, 45, dx, dy);
        p.maskCount = p.displacedCount = p.inPlaceCount = 99;
        p.displacedDiffMean = p.inPlaceEnergyMean = 1.0f;
        tryCorrelateOffset(f1.data(), f1.data(), nullptr, scratch.data(), &p);
        EXPECT_EQ(p.displacedCount + p.inPlaceCount + p.maskCount, 0) << dx << "," << dy;
        EXPECT_EQ(p.displacedDiffMean + p.inPlaceEnergyMean, 0.0f);
    }
}

TEST(FrameDifferenceTest, PointsTooCloseToAnEdgeAreRefusedWithoutReading) {
    const Frame f1 = fdframes::texturedFrame(60, 60, 5);
    std::vector<uint8_t> scratch(400), mask(60 * 60, 1);
    for (const auto& [row, col] : {std::pair<size_t, size_t>{19, 30}, {30, 19}, {40, 30}, {30, 40}, {SIZE_MAX, 30}}) {
        TileSearchParams p = pointParams(f1, row, col);
        tryCorrelateOffset(f1.data(), f1.data(), mask.data(), scratch.data(), &p);
        EXPECT_EQ(p.inPlaceCount, 0);
        findBestOffset(f1.data(), fdframes::shifted(f1, 1, 1).data(), mask.data(), scratch.data(), &p);
        EXPECT_EQ(p.dx, 0);
        EXPECT_EQ(p.dy, 0);
    }
    EXPECT_TRUE(std::all_of(mask.begin(), mask.end(), [](uint8_t b) { return b == 1; }));
    // The symmetry score reads the window's quadrants only.
    TileSearchParams p = pointParams(f1, 9, 30);
    EXPECT_EQ(scoreTileSymmetry(f1.data(), &p), 0.0f);
    p.row = 51;
    EXPECT_EQ(scoreTileSymmetry(f1.data(), &p), 0.0f);
}

TEST(FrameDifferenceTest, FindBestOffsetMatchesTheReference) {
    const Frame f1 = fdframes::texturedFrame(100, 100, 23);
    for (const auto& [dx, dy] : {std::pair{0, 0}, {3, 2}, {-6, 5}, {9, -9}}) {
        const Frame f2 = fdframes::withMovedPatch(f1, 15, 15, 70, dx, dy);
        for (size_t row : {20u, 45u, 75u}) {
            SCOPED_TRACE(testing::Message() << "shift " << dx << "," << dy << " row " << row);
            TileSearchParams real = pointParams(f1, row, 50), reference = real;
            std::vector<uint8_t> realScratch(400), referenceScratch(400);
            std::vector<uint8_t> realMask(100 * 100, 5), referenceMask(100 * 100, 5);
            findBestOffset(f1.data(), f2.data(), realMask.data(), realScratch.data(), &real);
            literal::findBestOffset(f1.data(), f2.data(), referenceMask.data(), referenceScratch.data(), reference);
            EXPECT_TRUE(sameParams(real, reference));
            EXPECT_EQ(realMask, referenceMask);
        }
    }
}

TEST(FrameDifferenceTest, SymmetryScoreMatchesTheReference) {
    const Frame textured = fdframes::texturedFrame(80, 80, 29);
    const Frame black = fdframes::uniformFrame(80, 80, 0, 0, 0);
    for (size_t row : {20u, 33u, 59u}) {
        TileSearchParams p = pointParams(textured, row, 40);
        const float real = scoreTileSymmetry(textured.data(), &p);
        const float reference = literal::scoreTileSymmetry(textured.data(), p);
        EXPECT_EQ(std::memcmp(&real, &reference, sizeof real), 0) << real << " vs " << reference;
    }
    // No energy in the quadrant, or no quadrant at all: 1e12.
    TileSearchParams p = pointParams(black, 40, 40);
    EXPECT_EQ(scoreTileSymmetry(black.data(), &p), 1e12f);
    p = pointParams(textured, 40, 40);
    p.halfWindow = 0;
    EXPECT_EQ(scoreTileSymmetry(textured.data(), &p), 1e12f);
}

TEST(FrameDifferenceTest, FloatComparatorSortsForTheCLibrary) {
    float values[] = {3.5f, -1.0f, 2.0f, -1.0f, 0.0f};
    std::qsort(values, 5, sizeof(float), floatComparator);
    EXPECT_EQ(std::vector<float>(values, values + 5), (std::vector<float>{-1.0f, -1.0f, 0.0f, 2.0f, 3.5f}));
    const float a = 1.0f, b = 2.0f;
    EXPECT_EQ(floatComparator(&b, &a), 1);
    EXPECT_EQ(floatComparator(&a, &b), -1);
    EXPECT_EQ(floatComparator(&a, &a), 0);
}

TEST(FrameDifferenceTest, MinAndMaxOfAnArray) {
    const float values[] = {0.5f, -2.0f, 7.0f, 1.0f};
    EXPECT_EQ(minArr(values, 4), -2.0f);
    EXPECT_EQ(maxArr(values, 4), 7.0f);
    EXPECT_EQ(minArr(values + 2, 1), 7.0f);
    EXPECT_EQ(maxArr(values + 1, 1), -2.0f);
    // No element: no value.
    EXPECT_TRUE(std::isnan(minArr(values, 0)));
    EXPECT_TRUE(std::isnan(maxArr(nullptr, 3)));
}

// Calls from several threads at once share nothing.
TEST(FrameDifferenceConcurrencyTest, CallsOnSeveralThreadsGiveTheirOwnResults) {
    std::vector<Frame> firsts, seconds;
    std::vector<std::vector<MotionOffsetTile>> expected;
    for (uint32_t n = 0; n < 4; ++n) {
        firsts.push_back(fdframes::texturedFrame(96, 88, 50 + n));
        seconds.push_back(fdframes::withMovedPatch(firsts.back(), 20, 20, 50, 1 + n, 2 - n));
        expected.push_back(literal::takeDifference(firsts.back().data(), seconds.back().data(), nullptr, 96, 88));
    }
    std::vector<std::vector<MotionOffsetTile>> results(4);
    std::vector<std::thread> threads;
    for (size_t n = 0; n < 4; ++n)
        threads.emplace_back([&, n] {
            for (int repeat = 0; repeat < 3; ++repeat) {
                MotionOffsetTile* tiles =
                    LowLevel_MotionDetectionTakeDifference(firsts[n].data(), seconds[n].data(), nullptr, 96, 88);
                results[n].clear();
                for (size_t i = 0; tiles[i].displacedCount > 0; ++i) results[n].push_back(tiles[i]);
                LowLevel_ReleaseMotionOffsetTile(tiles);
            }
        });
    for (auto& thread : threads) thread.join();
    for (size_t n = 0; n < 4; ++n) EXPECT_TRUE(fdcheck::sameRecords(results[n], expected[n])) << "pair " << n;
}

}  // namespace
